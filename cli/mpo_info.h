#pragma once

#include <string>

namespace duo::cli {

/// For an MPO, prints one line per image of its MP index under the line `info` printed for the
/// file: number, type, bytes and where they start, and the pixel size and orientation of the
/// image's own header. Prints nothing for any other file. False, with the reason on stderr,
/// when the file cannot be read or its index or an image's header is damaged (the other images
/// are still listed).
bool printMpoImages(const std::string& path);

}  // namespace duo::cli
