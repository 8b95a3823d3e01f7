#include "render_command.h"

#include <filesystem>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "auto_offset.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "render/anaglyph.h"
#include "render/renderer.h"
#include "render/stereogram.h"
#include "stereo/pair_loader.h"
#include "transform/image_tools.h"

namespace duo::cli {

namespace {

namespace fs = std::filesystem;

// Two PNG encodes at once hold about twenty bytes a pixel between them (both stills and both
// encoders' working memory); larger stills are encoded one at a time, as the peak was before.
constexpr std::int64_t kMaxPixelsEncodedAlongside = 16'000'000;

/// Two photographs, or one file holding both views when `right` is empty.
struct PairSource {
  std::string left;
  std::string right;
  std::optional<SideBySideLayout> layout;
};

Result<StereoPair> loadPair(const PairSource& source, const RenderOptions& options) {
  auto pair = source.right.empty()
                  ? loadStereoPairFile(source.left, source.layout, options.imageSize)
                  : loadStereoPairFiles(source.left, source.right, options.imageSize);
  if (!pair) return pair.error();
  pair->setAlignOffsetX(static_cast<float>(options.offsetX));
  pair->setAlignOffsetY(static_cast<float>(options.offsetY));
  if (options.swap) pair->swapImages();
  if (options.autoOffset) {
    // Estimated on the pair as it will be rendered: swapped, at the working size.
    const auto offset = confidentOffset(*pair);
    if (!offset) return offset.error();
    pair->setAlignOffsetX(static_cast<float>(offset->x));
    pair->setAlignOffsetY(static_cast<float>(offset->y));
  }
  return pair;
}

Error noOverlap() {
  return makeError(ErrorCode::InvalidArgument,
                   "the offset leaves no overlap between the two images");
}

/// One output as drawn, before it is encoded: a still, or the finished bytes of the GIF.
struct DrawnOutput {
  std::optional<Image> still;
  std::vector<std::uint8_t> bytes;
};

/// Draws the output of one kind from the pair (on the calling thread: the pair is not shared).
Result<DrawnOutput> drawKind(StereoPair& pair, OutputKind kind, const RenderOptions& options,
                             const GammaTable& gamma) {
  DrawnOutput drawn;
  if (kind == OutputKind::Wigglegram) {
    auto gif = buildWigglegramGif(pair);
    if (!gif) return gif.error();
    drawn.bytes = std::move(*gif);
  } else if (kind == OutputKind::Stereogram) {
    // Exports get the upright card; drawing it upright saves turning it twice.
    const CropRect crop =
        pair.getAlignmentBounds(pair.leftImage().width(), pair.leftImage().height());
    auto card = makeStereogramCard(pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop,
                                   options.settings);
    if (!card) return card.error();
    drawn.still = std::move(card).value();
  } else {
    drawn.still = renderStill(pair, kind, options.settings, gamma);
    if (!drawn.still) return noOverlap();
  }
  return drawn;
}

/// Encodes a drawn still in the format its path names and writes it into `file` (not flushed
/// to disk: exports can be made again, and a flush per file slows a batch). Safe on any thread.
Status writeDrawn(PendingFile& file, const DrawnOutput& drawn, const std::string& path,
                  const RenderOptions& options) {
  if (!drawn.still) return file.write(drawn.bytes);
  const auto format = imageFormatFromPath(path);
  if (!format) {
    return makeError(ErrorCode::Unsupported,
                     path + ": unknown image file type (the name must end in .jpg, .jpeg or .png)");
  }
  if (*format == ImageFormat::Png) {
    // The file goes out straight from the encoder's memory.
    bool encoded = false;
    const Status written = encodePngTo(*drawn.still, [&](std::span<const std::uint8_t> bytes) {
      encoded = true;
      return file.write(bytes);
    });
    if (!written && !encoded) {
      return makeError(written.error().code, path + ": " + written.error().message);
    }
    return written;
  }
  const auto bytes = encodeJpeg(*drawn.still, options.jpegQuality);
  if (!bytes) return makeError(bytes.error().code, path + ": " + bytes.error().message);
  return file.write(*bytes);
}

/// Renders every kind into a temporary file beside its target and renames them all only when
/// every one was written; on failure the temporary files go and no target changes. The pair is
/// used up: its images are let go as soon as the last kind is drawn, so that the encoder's
/// working memory comes from their buffers instead of fresh pages.
///
/// Encoding takes most of the time, so with several kinds two are encoded at once: while a
/// helper thread encodes one output, this thread draws the next and encodes it itself (stills
/// above kMaxPixelsEncodedAlongside are encoded alone). Each file is the same as when written
/// alone.
Status renderAndCommit(StereoPair& pair,
                       const std::vector<std::pair<OutputKind, std::string>>& targets,
                       const RenderOptions& options) {
  static const GammaTable gamma = updateGammaTable(0.8);
  // Creating every temporary file first finds an unwritable folder before any rendering.
  std::vector<PendingFile> pending;
  for (const auto& [kind, path] : targets) {
    auto file = PendingFile::create(path);
    if (!file) return file.error();
    pending.push_back(std::move(*file));
  }
  // The helper's output and result; at most one is in flight.
  std::optional<DrawnOutput> helperOutput;
  std::optional<Status> helperStatus;
  std::thread helper;
  Status status = Ok{};
  auto joinHelper = [&] {
    if (!helper.joinable()) return;
    helper.join();
    if (status && !*helperStatus) status = *helperStatus;
    helperOutput.reset();
  };
  for (std::size_t i = 0; i < targets.size() && status; ++i) {
    const auto& [kind, path] = targets[i];
    auto drawn = drawKind(pair, kind, options, gamma);
    if (i + 1 == targets.size()) pair = StereoPair();
    if (!drawn) {
      status = drawn.error();
      break;
    }
    const bool more = i + 1 < targets.size();
    const bool alongside =
        !drawn->still ||
        std::int64_t{drawn->still->width()} * drawn->still->height() <= kMaxPixelsEncodedAlongside;
    if (more && drawn->still && alongside && !helper.joinable()) {
      helperOutput = std::move(*drawn);
      helperStatus.reset();
      try {
        helper = std::thread([&, i] {
          helperStatus = writeDrawn(pending[i], *helperOutput, targets[i].second, options);
        });
        continue;
      } catch (const std::system_error&) {
        drawn = std::move(*helperOutput);  // no thread to be had: write it here instead
      }
    }
    if (!alongside) {
      joinHelper();
      if (!status) break;
    }
    status = writeDrawn(pending[i], *drawn, path, options);
    joinHelper();
  }
  joinHelper();
  if (!status) return status;
  for (PendingFile& file : pending) {
    if (Status committed = file.commit(); !committed) return committed;
  }
  return Ok{};
}

struct FileId {
  dev_t device;
  ino_t inode;
  bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileId(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

}  // namespace

Status refuseToOverwriteInputs(const std::vector<std::string>& outputs,
                               const std::vector<std::string>& inputs) {
  std::vector<std::pair<FileId, const std::string*>> inputIds;
  for (const std::string& input : inputs) {
    if (auto id = fileId(input)) inputIds.emplace_back(*id, &input);
  }
  for (const std::string& output : outputs) {
    const auto id = fileId(output);
    if (!id) continue;
    for (const auto& [inputId, input] : inputIds) {
      if (*id == inputId) {
        return makeError(ErrorCode::InvalidArgument,
                         output + ": the output would overwrite the input " + *input +
                             " (the same file); nothing was written");
      }
    }
  }
  return Ok{};
}

namespace {

Status renderSourceToOutput(const PairSource& source, const RenderOptions& options,
                            const std::string& output,
                            const std::vector<std::string>& protectedInputs) {
  std::vector<std::pair<OutputKind, std::string>> targets;
  std::vector<std::string> outputs;
  if (options.all) {
    outputs.push_back(output);
    for (OutputKind kind : options.kinds) {
      targets.emplace_back(kind, (fs::path(output) / std::string(cacheFileName(kind))).string());
      outputs.push_back(targets.back().second);
    }
  } else {
    targets.emplace_back(options.kinds.front(), output);
    outputs.push_back(output);
  }
  std::vector<std::string> inputs = protectedInputs;
  inputs.push_back(source.left);
  if (!source.right.empty()) inputs.push_back(source.right);
  if (Status safe = refuseToOverwriteInputs(outputs, inputs); !safe) return safe;

  auto pair = loadPair(source, options);
  if (!pair) return pair.error();
  const CropRect crop =
      pair->getAlignmentBounds(pair->leftImage().width(), pair->leftImage().height());
  if (crop.width <= 0 || crop.height <= 0) return noOverlap();
  if (!options.all) return renderAndCommit(*pair, targets, options);

  std::error_code error;
  const bool existed = fs::exists(output, error);
  fs::create_directories(output, error);
  if (error) {
    return makeError(ErrorCode::Io,
                     output + ": cannot create the folder (" + error.message() + ")");
  }
  const Status status = renderAndCommit(*pair, targets, options);
  // A folder made for this pair goes again when nothing went into it (remove() keeps a folder
  // that is not empty).
  if (!status && !existed) fs::remove(output, error);
  return status;
}

}  // namespace

Status renderPairToOutput(const std::string& left, const std::string& right,
                          const RenderOptions& options, const std::string& output,
                          const std::vector<std::string>& protectedInputs) {
  return renderSourceToOutput({left, right, std::nullopt}, options, output, protectedInputs);
}

Status renderFileToOutput(const std::string& file, std::optional<SideBySideLayout> layout,
                          const RenderOptions& options, const std::string& output) {
  return renderSourceToOutput({file, std::string(), layout}, options, output, {});
}

}  // namespace duo::cli
