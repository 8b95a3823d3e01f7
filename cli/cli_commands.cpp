#include "cli_commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include <unistd.h>

#include <filesystem>
#include <set>

#include "auto_offset.h"
#include "batch_sources.h"
#include "io/image_codec.h"
#include "io/mpo.h"
#include "mpo_info.h"
#include "render_command.h"
#include "stereo/pair_loader.h"
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

bool parseSwitch(const std::string& option, const std::string& text) {
  if (text == "on") return true;
  if (text == "off") return false;
  throw UsageError{option + " takes on or off, not '" + text + "'"};
}

void parseOffset(const std::string& text, RenderOptions& options) {
  options.autoOffset = text == "auto";
  if (options.autoOffset) return;
  const auto comma = text.find(',');
  if (comma == std::string::npos) {
    throw UsageError{"--offset takes X,Y or auto, not '" + text + "'"};
  }
  constexpr int kLimit = 1'000'000;
  options.offsetX = parseInt("--offset", text.substr(0, comma), -kLimit, kLimit);
  options.offsetY = parseInt("--offset", text.substr(comma + 1), -kLimit, kLimit);
}

void setKinds(const std::string& text, RenderOptions& options) {
  options.kinds.clear();
  options.all = text == "all";
  if (options.all) {
    options.kinds = {OutputKind::ColorAnaglyph, OutputKind::GreyAnaglyph, OutputKind::Stereogram,
                     OutputKind::Wigglegram};
    return;
  }
  const auto kind = outputKindFromString(text);
  if (!kind || *kind == OutputKind::Alignment) {
    throw UsageError{"--kind takes color, grey, stereogram, wiggle or all, not '" + text + "'"};
  }
  options.kinds = {*kind};
}

/// Consumes one of the options render and batch share; false when `arg` is not one of them.
bool parseRenderOption(const std::string& arg, ArgReader& reader, RenderOptions& options) {
  if (arg == "--kind") {
    setKinds(reader.valueOf(arg), options);
  } else if (arg == "--offset") {
    parseOffset(reader.valueOf(arg), options);
  } else if (arg == "--image-size") {
    options.imageSize = parsePositiveFloat(arg, reader.valueOf(arg));
  } else if (arg == "--color-method") {
    options.settings.colorMethod = parseInt(arg, reader.valueOf(arg), 0, 4);
  } else if (arg == "--enhance") {
    options.settings.anaglyphEnhance = parseSwitch(arg, reader.valueOf(arg));
  } else if (arg == "--dots") {
    options.settings.stereogramDots = parseSwitch(arg, reader.valueOf(arg));
  } else if (arg == "--border") {
    options.settings.stereoBorderSize = parseInt(arg, reader.valueOf(arg), 0, 1000);
  } else if (arg == "--swap") {
    options.swap = true;
  } else if (arg == "--quality") {
    options.jpegQuality = parseInt(arg, reader.valueOf(arg), 1, 100);
  } else {
    return false;
  }
  return true;
}

/// A single input without --sbs must say by itself that it holds a pair: an MPO or a .jps.
/// Files that cannot be read are left to the loader, which reports them as bad input.
void requirePairInOneFile(const std::string& path) {
  if (sideBySideLayoutForPath(path)) return;
  const auto index = readMpoEntriesFromHeader(path);
  if (!index && index.error().code == ErrorCode::Unsupported) {
    throw UsageError{path + " is not an MPO: give LEFT and RIGHT, or for a side-by-side image " +
                     "use --sbs parallel|cross"};
  }
}

RenderOptions defaultRenderOptions() {
  RenderOptions options;
  setKinds("all", options);
  return options;
}

/// Output of one kind must be a file whose extension suits the kind.
void checkOutputFile(OutputKind kind, const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  if (kind == OutputKind::Wigglegram) {
    if (ext != ".gif" && ext != ".GIF") {
      throw UsageError{"the wigglegram is a GIF: '" + path + "' should end in .gif"};
    }
  } else if (!imageFormatFromPath(path)) {
    throw UsageError{"cannot tell the format of '" + path + "': use .png, .jpg or .jpeg"};
  }
}

}  // namespace

const char* usageText() {
  return R"(Usage: duoscope-cli COMMAND [ARGUMENTS]

Stereo photography from the command line.

Commands:
  info FILE...
      Stored pixel size, orientation tag (ours and EXIF) and upright size of
      JPEG or PNG files; for an MPO also each image of its index (type, bytes,
      pixel size, orientation).
  normalize IN -o OUT [--max-resolution M] [--override-orientation O]
                      [--quality Q]
      Redraw IN upright (its EXIF orientation applied, or O instead) with its
      longer stored side at most M pixels, and write OUT. The extension of OUT
      picks the format: .png, or .jpg/.jpeg (quality Q, default 90).
      M defaults to no reduction. O is -1 (keep the file's own), 0-7 or one of
      Up Down Left Right UpMirrored DownMirrored LeftMirrored RightMirrored.

  render LEFT RIGHT [--kind K] [-o OUT] [RENDER OPTIONS]
  render PAIR.mpo [--kind K] [-o OUT] [RENDER OPTIONS]
  render SBS [--sbs parallel|cross] [--kind K] [-o OUT] [RENDER OPTIONS]
      Render a stereo pair: two photographs, an MPO file of a 3-D camera (its
      first two views), or one side-by-side image split in halves (parallel:
      the left half is the left eye; cross: the right eye; a .jps file is
      cross unless --sbs says otherwise). K is color, grey, stereogram, wiggle
      or all (default all). For one kind OUT is a file: .png or .jpg for
      stills, .gif for the wigglegram (default: the kind's own name, e.g. "Color
      Anaglyph.png"). For all, OUT is a folder (default duoscope-output) that
      receives "Color Anaglyph.png", "Grey Anaglyph.png", "Stereogram.png"
      (upright) and "Wigglegram.gif".
  batch SOURCE -o OUTDIR [--kind K] [--format png|jpg] [RENDER OPTIONS]
      Render many pairs. SOURCE is a folder of NAME_L / NAME_R images, or a
      list file with one "LEFT<TAB>RIGHT[<TAB>NAME]" line per pair. Each pair
      goes to OUTDIR/NAME.png (or .jpg, .gif) for one kind, OUTDIR/NAME/ for
      all; a name already taken gets a -N suffix. One bad pair does not stop
      the others; failures are summed up at the end.
  align LEFT RIGHT [--image-size P]
  align PAIR.mpo|SBS [--sbs parallel|cross] [--image-size P]
      Suggest the alignment offset of a pair at working size P (default 50):
      the vertical offset that removes the vertical disparity, and the
      horizontal one that puts the nearest tenth of the scene at the screen
      plane, so nothing stands in front of the frame. Prints X,Y (as --offset
      takes it) on the first line and the confidence (0-1) on the second;
      exits 1 when the confidence is too low to rely on.

Render options:
  --offset X,Y|auto    alignment offset of the right image in whole pixels of
                       the working copies (default 0,0); auto uses the
                       offset align suggests, and fails when it is unsure
  --image-size P       working size, percent of the left image's longer side
                       (default 50; 100 or more keeps full resolution)
  --color-method N     colour anaglyph method 0-4 (default 4)
  --enhance on|off     anaglyph colour enhancement (default on)
  --dots on|off        stereogram alignment dots (default off)
  --border N           stereogram border size (default 10)
  --swap               exchange left and right (a cross-eyed stereogram)
  --quality Q          JPEG quality (default 90)

Options:
  --help       this text
  --version    the version

Exit status: 0 success, 1 bad input (a file missing, unreadable, corrupt,
unsupported or too large, or an output that is an input; nothing is
written), 2 bad usage.
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
    if (!printMpoImages(path)) status = kExitBadInput;
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

  if (Status safe = refuseToOverwriteInputs({*output}, {*input}); !safe) {
    printError(safe.error());
    return kExitBadInput;
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

int runAlign(const Args& args) {
  ArgReader reader(args);
  std::vector<std::string> files;
  float imageSize = RenderOptions{}.imageSize;  // the working size render uses by default
  std::optional<SideBySideLayout> sideBySide;
  while (!reader.done()) {
    const std::string& arg = reader.next();
    if (arg == "--image-size") {
      imageSize = parsePositiveFloat(arg, reader.valueOf(arg));
    } else if (arg == "--sbs") {
      const std::string& text = reader.valueOf(arg);
      sideBySide = sideBySideLayoutFromString(text);
      if (!sideBySide) throw UsageError{"--sbs takes parallel or cross, not '" + text + "'"};
    } else if (isOption(arg)) {
      throw UsageError{"align has no option '" + arg + "'"};
    } else {
      files.push_back(arg);
    }
  }
  if (sideBySide && files.size() != 1) throw UsageError{"--sbs goes with one image file"};
  if (files.size() != 2 && !(files.size() == 1 && (sideBySide || isSingleFilePair(files[0]))))
    throw UsageError{"align needs LEFT and RIGHT image files, or one pair file (an MPO, a .jps, "
                     "or a side-by-side image with --sbs)"};

  const auto pair = files.size() == 1 ? loadStereoPairFile(files[0], sideBySide, imageSize)
                                      : loadStereoPairFiles(files[0], files[1], imageSize);
  if (!pair) {
    printError(pair.error());
    return kExitBadInput;
  }
  const auto suggestion = suggestOffset(*pair);
  if (!suggestion) {
    printError(suggestion.error());
    return kExitBadInput;
  }
  std::printf("%d,%d\nconfidence %s\n", suggestion->dx, suggestion->dy,
              confidenceText(*suggestion).c_str());
  if (suggestion->confidence < kMinimumAlignmentConfidence) {
    std::fprintf(stderr,
                 "the suggestion is unreliable (confidence below %.2f): set the offset by hand\n",
                 kMinimumAlignmentConfidence);
    return kExitBadInput;
  }
  return kExitOk;
}

}  // namespace duo::cli

namespace duo::cli {

int runRender(const Args& args) {
  ArgReader reader(args);
  RenderOptions options = defaultRenderOptions();
  std::vector<std::string> files;
  std::optional<std::string> output;
  std::optional<SideBySideLayout> sideBySide;
  while (!reader.done()) {
    const std::string& arg = reader.next();
    if (arg == "-o" || arg == "--output") {
      output = reader.valueOf(arg);
    } else if (arg == "--sbs") {
      const std::string& text = reader.valueOf(arg);
      sideBySide = sideBySideLayoutFromString(text);
      if (!sideBySide) throw UsageError{"--sbs takes parallel or cross, not '" + text + "'"};
    } else if (parseRenderOption(arg, reader, options)) {
      continue;
    } else if (isOption(arg)) {
      throw UsageError{"render has no option '" + arg + "'"};
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty() || files.size() > 2) {
    throw UsageError{"render needs LEFT and RIGHT image files, or one MPO or side-by-side file"};
  }
  if (files.size() == 2 && sideBySide) throw UsageError{"--sbs goes with one input file"};
  if (files.size() == 1 && !sideBySide) requirePairInOneFile(files[0]);
  if (!output) {
    output = options.all ? "duoscope-output" : std::string(cacheFileName(options.kinds.front()));
  }
  if (!options.all) checkOutputFile(options.kinds.front(), *output);

  const Status status = files.size() == 2
                            ? renderPairToOutput(files[0], files[1], options, *output)
                            : renderFileToOutput(files[0], sideBySide, options, *output);
  if (!status) {
    printError(status.error());
    return kExitBadInput;
  }
  std::printf("%s\n", output->c_str());
  return kExitOk;
}

namespace {

/// A name that stays inside the output folder: its last component, "pair" for none.
std::string safeName(const std::string& name) {
  std::string safe = std::filesystem::path(name).filename().string();
  if (safe.empty() || safe == "." || safe == "..") safe = "pair";
  return safe;
}

/// The output file (or folder) name of every pair to render, `extension` included. The first
/// pair asking for a name keeps it; a later one gets the first "-N" no pair asks for and none
/// has been given, so no output is written twice. Pairs with a problem get no name.
std::vector<std::string> uniqueOutputNames(const std::vector<BatchPair>& pairs,
                                           const std::string& extension) {
  std::set<std::string> asked;
  for (const BatchPair& pair : pairs) {
    if (pair.problem.empty()) asked.insert(safeName(pair.name) + extension);
  }
  std::set<std::string> given;
  std::vector<std::string> names(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i].problem.empty()) continue;
    const std::string base = safeName(pairs[i].name);
    std::string name = base + extension;
    if (given.count(name) != 0) {
      int n = 2;
      do {
        name = base + "-" + std::to_string(n++) + extension;
      } while (given.count(name) != 0 || asked.count(name) != 0);
    }
    given.insert(name);
    names[i] = name;
  }
  return names;
}

}  // namespace

int runBatch(const Args& args) {
  ArgReader reader(args);
  RenderOptions options = defaultRenderOptions();
  std::optional<std::string> source;
  std::optional<std::string> outDir;
  std::string stillExtension = ".png";
  while (!reader.done()) {
    const std::string& arg = reader.next();
    if (arg == "-o" || arg == "--output") {
      outDir = reader.valueOf(arg);
    } else if (arg == "--format") {
      const std::string& format = reader.valueOf(arg);
      if (format != "png" && format != "jpg") {
        throw UsageError{"--format takes png or jpg, not '" + format + "'"};
      }
      stillExtension = "." + format;
    } else if (parseRenderOption(arg, reader, options)) {
      continue;
    } else if (isOption(arg)) {
      throw UsageError{"batch has no option '" + arg + "'"};
    } else if (!source) {
      source = arg;
    } else {
      throw UsageError{"batch takes one SOURCE folder or list file"};
    }
  }
  if (!source) throw UsageError{"batch needs a SOURCE folder or list file"};
  if (!outDir) throw UsageError{"batch needs -o OUTDIR"};

  std::error_code error;
  auto pairs = std::filesystem::is_directory(*source, error) ? pairsInFolder(*source)
                                                             : pairsInListFile(*source);
  if (!pairs) {
    printError(pairs.error());
    return kExitBadInput;
  }
  std::filesystem::create_directories(*outDir, error);
  if (error) {
    std::fprintf(stderr, "%s: cannot create the folder (%s)\n", outDir->c_str(),
                 error.message().c_str());
    return kExitBadInput;
  }

  const std::string extension =
      options.all ? ""
                  : (options.kinds.front() == OutputKind::Wigglegram ? ".gif" : stillExtension);
  const std::vector<std::string> names = uniqueOutputNames(*pairs, extension);
  // No pair may write over the photographs of any other, rendered later or earlier.
  std::vector<std::string> inputs;
  for (const BatchPair& pair : *pairs) {
    if (!pair.problem.empty()) continue;
    inputs.push_back(pair.left);
    inputs.push_back(pair.right);
  }

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  std::vector<std::string> renamed;
  std::vector<std::pair<std::string, std::string>> failures;
  const std::size_t total = pairs->size();
  for (std::size_t i = 0; i < total; ++i) {
    const BatchPair& pair = (*pairs)[i];
    if (terminal) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", i + 1, total, pair.name.c_str());
      std::fflush(stderr);
    }
    if (!pair.problem.empty()) {
      failures.emplace_back(pair.name, pair.problem);
      continue;
    }
    const std::string& name = names[i];
    if (name != pair.name + extension) {
      renamed.push_back(pair.name + " → " + name.substr(0, name.size() - extension.size()));
    }
    const std::string target = (std::filesystem::path(*outDir) / name).string();
    const Status status = renderPairToOutput(pair.left, pair.right, options, target, inputs);
    if (!status) failures.emplace_back(pair.name, status.error().message);
  }
  if (terminal) std::fprintf(stderr, "\r\033[K");

  std::printf("%zu of %zu pairs rendered into %s\n", total - failures.size(), total,
              outDir->c_str());
  if (!renamed.empty()) {
    std::printf("renamed so that no output overwrites another:\n");
    for (const std::string& line : renamed) std::printf("  %s\n", line.c_str());
  }
  if (!failures.empty()) {
    std::fprintf(stderr, "%zu failed:\n", failures.size());
    for (const auto& [name, message] : failures) {
      std::fprintf(stderr, "  %s: %s\n", name.c_str(), message.c_str());
    }
    return kExitBadInput;
  }
  return kExitOk;
}

}  // namespace duo::cli
