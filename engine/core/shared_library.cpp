#include "core/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace duo {

namespace {

// dlerror() both reads and clears the thread's last message, and is null when there is none.
std::string lastDlError() {
  const char* message = dlerror();
  return message ? message : "unknown error";
}

}  // namespace

Result<SharedLibrary> SharedLibrary::open(const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    // dlerror's text usually starts with the file name already, but not for every failure.
    return makeError(ErrorCode::Unsupported, file + " could not be loaded: " + lastDlError());
  }
  return SharedLibrary(handle, file);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_file(std::move(other.m_file)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (m_handle) dlclose(m_handle);
    m_handle = std::exchange(other.m_handle, nullptr);
    m_file = std::move(other.m_file);
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (m_handle) dlclose(m_handle);
}

Result<void*> SharedLibrary::symbol(const char* name) const {
  dlerror();  // clears an older message, so that the one read below is this lookup's
  void* address = dlsym(m_handle, name);
  const char* message = dlerror();
  // A symbol may legitimately resolve to null, but never one that callers go on to call or read.
  if (message || !address) {
    return makeError(
        ErrorCode::Unsupported,
        m_file + " has no " + name + (message ? " (" + std::string(message) + ")" : ""));
  }
  return address;
}

}  // namespace duo
