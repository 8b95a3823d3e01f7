#include "cli_commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include "io/image_codec.h"
#include "transform/image_tools.h"

namespace duo::cli {

namespace {

/// Walks the arguments of one command: options with values, and positional operands.
class ArgReader {
 public:
  explicit ArgReader(const Args& args) : m_args(args) {}

  bool done() const { return m_index >= m_args.size(); }
  const std::string& next() { return m_args[m_index++]; }

  /// The value after an option, or a usage error naming the option.
  const std::string& valueOf(const std::string& option) {
    if (done()) throw UsageError{option + " needs a value"};
    return next();
  }

 private:
  const Args& m_args;
  std::size_t m_index = 0;
};

bool isOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

float parsePositiveFloat(const std::string& option, const std::string& text) {
  float value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      !(value > 0)) {
    throw UsageError{option + " takes a positive number, not '" + text + "'"};
  }
  return value;
}

int parseInt(const std::string& option, const std::string& text, int lo, int hi) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) {
    throw UsageError{option + " takes a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", not '" + text + "'"};
  }
  return value;
}

int parseOrientationOverride(const std::string& text) {
  if (text == "-1" || text == "keep") return ImageTools::kKeepOrientation;
  if (auto o = orientationFromString(text)) return static_cast<int>(*o);
  throw UsageError{"--override-orientation takes -1 (keep), 0-7 or a name such as Right, not '" +
                   text + "'"};
}

void printError(const Error& error) { std::fprintf(stderr, "%s\n", error.message.c_str()); }

}  // namespace

const char* usageText() {
  return R"(Usage: duoscope-cli COMMAND [ARGUMENTS]

Stereo photography from the command line.

Commands:
  info FILE...
      Stored pixel size, orientation tag (ours and EXIF) and upright size of
      JPEG or PNG files.
  normalize IN -o OUT [--max-resolution M] [--override-orientation O]
                      [--quality Q]
      Redraw IN upright (its EXIF orientation applied, or O instead) with its
      longer stored side at most M pixels, and write OUT. The extension of OUT
      picks the format: .png, or .jpg/.jpeg (quality Q, default 90).
      M defaults to no reduction. O is -1 (keep the file's own), 0-7 or one of
      Up Down Left Right UpMirrored DownMirrored LeftMirrored RightMirrored.

Options:
  --help       this text
  --version    the version

Exit status: 0 success, 1 bad input (a file missing, unreadable, corrupt,
unsupported or too large; nothing is written), 2 bad usage.
)";
}

int runInfo(const Args& args) {
  if (args.empty()) throw UsageError{"info needs at least one FILE"};
  for (const auto& a : args) {
    if (isOption(a)) throw UsageError{"info takes no option '" + a + "'"};
  }
  int status = kExitOk;
  for (const auto& path : args) {
    const auto info = readImageInfoFile(path);
    if (!info) {
      printError(info.error());
      status = kExitBadInput;
      continue;
    }
    const auto o = static_cast<Orientation>(info->orientationTag);
    const bool quarter = swapsSides(o);
    std::printf("%s: %s %dx%d, orientation %s (tag %d, EXIF %d), upright %dx%d\n", path.c_str(),
                std::string(toString(info->format)).c_str(), info->width, info->height,
                std::string(toString(o)).c_str(), info->orientationTag, exifFromOrientation(o),
                quarter ? info->height : info->width, quarter ? info->width : info->height);
  }
  return status;
}

int runNormalize(const Args& args) {
  ArgReader reader(args);
  std::optional<std::string> input;
  std::optional<std::string> output;
  float maxResolution = std::numeric_limits<float>::infinity();
  int override = ImageTools::kKeepOrientation;
  int quality = 90;
  while (!reader.done()) {
    const std::string& arg = reader.next();
    if (arg == "-o" || arg == "--output") {
      output = reader.valueOf(arg);
    } else if (arg == "--max-resolution") {
      maxResolution = parsePositiveFloat(arg, reader.valueOf(arg));
    } else if (arg == "--override-orientation") {
      override = parseOrientationOverride(reader.valueOf(arg));
    } else if (arg == "--quality") {
      quality = parseInt(arg, reader.valueOf(arg), 1, 100);
    } else if (isOption(arg)) {
      throw UsageError{"normalize has no option '" + arg + "'"};
    } else if (!input) {
      input = arg;
    } else {
      throw UsageError{"normalize takes one input file"};
    }
  }
  if (!input) throw UsageError{"normalize needs an input file"};
  if (!output) throw UsageError{"normalize needs -o OUT"};
  if (!imageFormatFromPath(*output)) {
    throw UsageError{"cannot tell the format of '" + *output + "': use .png, .jpg or .jpeg"};
  }

  const auto image = decodeImageFile(*input);
  if (!image) {
    printError(image.error());
    return kExitBadInput;
  }
  const Image result = ImageTools::scaleAndRotateImage(*image, override, maxResolution);
  const Status written = writeImageFile(result, *output, quality);
  if (!written) {
    printError(written.error());
    return kExitBadInput;
  }
  return kExitOk;
}

}  // namespace duo::cli
