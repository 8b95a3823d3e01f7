#pragma once

#include <string>
#include <utility>

#include "core/result.h"

namespace duo {

/// A shared library opened at run time (dlopen) rather than linked, so that a program pays for
/// loading it, and for everything it depends on, only when a feature that needs it is used.
///
/// Symbols are bound at once (RTLD_NOW) and kept local to the library (RTLD_LOCAL): a missing
/// dependency shows as an error from open(), never as a crash at the first call. Closed when the
/// object is destroyed; keep it alive as long as any symbol taken from it is in use.
class SharedLibrary {
 public:
  /// Opens `file`: a bare name ("libgd.so.3") is searched for the way the dynamic linker
  /// searches, a name with a slash is used as the path. Errors: Unsupported, naming the file
  /// and saying why (not found, a dependency missing, not a library for this machine).
  static Result<SharedLibrary> open(const std::string& file);

  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  /// The address of the function or object `name`, never null. Errors: Unsupported, naming the
  /// symbol and the library (a library too old, or of another kind than expected).
  Result<void*> symbol(const char* name) const;

  /// The name or path it was opened with.
  const std::string& file() const { return m_file; }

 private:
  SharedLibrary(void* handle, std::string file) : m_handle(handle), m_file(std::move(file)) {}

  void* m_handle = nullptr;
  std::string m_file;
};

}  // namespace duo
