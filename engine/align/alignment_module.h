#pragma once

#include <string>

#include "align/alignment_module_interface.h"
#include "core/result.h"
#include "core/shared_library.h"

namespace duo {

/// The automatic alignment module, libduoscope-align.so, opened when an alignment is first
/// asked for: it links OpenCV, whose loading (with TBB, LAPACK, …) every start of every
/// program would otherwise pay for.
///
/// A program looks for it at one fixed path from its own executable (/proc/self/exe), the
/// relative path from the installed programs' folder to the installed module's; the build
/// tree has the same layout.
class AlignmentModule {
 public:
  static constexpr const char* kFileName = "libduoscope-align.so";

  /// Where this program looks for the module; empty when this build makes none or the
  /// program's own path cannot be read.
  static const std::string& path();

  /// The process's module, opened on the first call (once, whichever thread calls first) and
  /// kept until the process ends. When that failed, every call returns its error: Unsupported,
  /// saying that automatic alignment is not available and why (a build without OpenCV, the
  /// module missing at path(), OpenCV missing, a module of another version).
  static Result<const AlignmentModule*> shared();

  /// Opens the module at `file` and checks that it belongs to this version (what shared() does
  /// with path()). Errors as for shared().
  static Result<AlignmentModule> load(const std::string& file);

  /// analyseAlignment(), done by the module.
  Result<AlignmentAnalysis> analyse(const Image& left, const Image& right) const {
    return m_interface->analyse(left, right);
  }

 private:
  AlignmentModule(SharedLibrary library, const AlignmentModuleInterface* interface)
      : m_library(std::move(library)), m_interface(interface) {}

  SharedLibrary m_library;
  const AlignmentModuleInterface* m_interface;
};

}  // namespace duo
