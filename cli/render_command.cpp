#include "render_command.h"

#include <filesystem>
#include <optional>
#include <span>
#include <thread>

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

/// Writes the output of one kind into `file`, in the format its path names (not flushed to
/// disk: exports can be made again, and a flush per file slows a batch). With `lastUse` the
/// pair's images are let go as soon as the output is drawn: the encoder's working memory then
/// comes from their buffers instead of fresh pages.
Status renderKindInto(PendingFile& file, StereoPair& pair, OutputKind kind,
                      const RenderOptions& options, const GammaTable& gamma,
                      const std::string& path, bool lastUse) {
  if (kind == OutputKind::Wigglegram) {
    const auto gif = buildWigglegramGif(pair);
    if (!gif) return gif.error();
    return file.write(*gif);
  }
  std::optional<Image> image;
  if (kind == OutputKind::Stereogram) {
    // Exports get the upright card; drawing it upright saves turning it twice.
    const CropRect crop =
        pair.getAlignmentBounds(pair.leftImage().width(), pair.leftImage().height());
    auto card = makeStereogramCard(pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop,
                                   options.settings);
    if (!card) return card.error();
    image = std::move(card).value();
  } else {
    image = renderStill(pair, kind, options.settings, gamma);
    if (!image) return noOverlap();
  }
  if (lastUse) pair = StereoPair();
  const auto format = imageFormatFromPath(path);
  if (!format) {
    return makeError(ErrorCode::Unsupported,
                     path + ": unknown image file type (the name must end in .jpg, .jpeg or .png)");
  }
  if (*format == ImageFormat::Png) {
    // The file goes out straight from the encoder's memory.
    bool encoded = false;
    const Status written = encodePngTo(*image, [&](std::span<const std::uint8_t> bytes) {
      encoded = true;
      return file.write(bytes);
    });
    if (!written && !encoded) {
      return makeError(written.error().code, path + ": " + written.error().message);
    }
    return written;
  }
  const auto bytes = encodeJpeg(*image, options.jpegQuality);
  if (!bytes) return makeError(bytes.error().code, path + ": " + bytes.error().message);
  return file.write(*bytes);
}

/// Renders every kind into a temporary file beside its target and renames them all only when
/// every one was written; on failure the temporary files go and no target changes. The pair is
/// used up: its images are released after the last kind is drawn.
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
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const auto& [kind, path] = targets[i];
    const bool lastUse = i + 1 == targets.size();
    if (Status written = renderKindInto(pending[i], pair, kind, options, gamma, path, lastUse);
        !written) {
      return written;
    }
  }
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
