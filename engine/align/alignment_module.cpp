#include "align/alignment_module.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace duo {

namespace {

constexpr const char* kNotAvailable = "automatic alignment is not available";

Error notAvailable(const std::string& why) {
  return makeError(ErrorCode::Unsupported, std::string(kNotAvailable) + ": " + why);
}

#ifdef DUOSCOPE_HAVE_AUTO_ALIGN
std::string modulePath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path() / DUOSCOPE_MODULE_DIR_FROM_BIN / AlignmentModule::kFileName)
      .lexically_normal()
      .string();
}
#endif

}  // namespace

const std::string& AlignmentModule::path() {
#ifdef DUOSCOPE_HAVE_AUTO_ALIGN
  static const std::string path = modulePath();
#else
  static const std::string path;
#endif
  return path;
}

Result<AlignmentModule> AlignmentModule::load(const std::string& file) {
  // The usual way to lose it: a copy of the program without its lib folder. Said plainly,
  // rather than through the dynamic linker's message.
  std::error_code error;
  if (!std::filesystem::exists(file, error))
    return notAvailable("its module " + file + " is missing");
  auto library = SharedLibrary::open(file);
  if (!library) return notAvailable(library.error().message);
  auto entry = library->symbol(kAlignmentModuleEntry);
  if (!entry) return notAvailable(entry.error().message);
  using Entry = const AlignmentModuleInterface* (*)();
  const AlignmentModuleInterface* interface = reinterpret_cast<Entry>(*entry)();
  if (!interface || !interface->version || std::strcmp(interface->version, DUOSCOPE_VERSION) != 0) {
    return notAvailable(file + " belongs to Duoscope " +
                        (interface && interface->version ? interface->version : "(unknown)") +
                        ", not to this program's version " + DUOSCOPE_VERSION);
  }
  if (!interface->analyse) return notAvailable(file + " offers no alignment");
  return AlignmentModule(std::move(*library), interface);
}

Result<const AlignmentModule*> AlignmentModule::shared() {
#ifdef DUOSCOPE_HAVE_AUTO_ALIGN
  // Never closed: OpenCV's worker threads and static destructors must not lose their code
  // while the process ends. A static's initialisation runs once, other threads waiting.
  static const Result<AlignmentModule>* const loaded = new Result<AlignmentModule>(
      path().empty()
          ? Result<AlignmentModule>(notAvailable("this program cannot find its own path"))
          : load(path()));
  if (!*loaded) return loaded->error();
  return &loaded->value();
#else
  return makeError(ErrorCode::Unsupported,
                   std::string(kNotAvailable) + " in this build (it was built without OpenCV)");
#endif
}

}  // namespace duo
