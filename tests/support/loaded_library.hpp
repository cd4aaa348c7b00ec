// A built shared library (the plug-in by default) loaded the way a consumer
// loads it (dlopen, or LoadLibrary on Windows) and reached only through the
// symbols it exports.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace vx_test {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char *path = VX_PLUGIN_PATH) : handle_(open(path)) {}
  ~LoadedLibrary() {
    if (handle_ != nullptr) close(handle_);
  }
  LoadedLibrary(const LoadedLibrary &) = delete;
  LoadedLibrary &operator=(const LoadedLibrary &) = delete;

  bool loaded() const { return handle_ != nullptr; }

  template <typename Function>
  Function symbol(const char *name) const {
    return reinterpret_cast<Function>(find(handle_, name));
  }

  // Why the library did not load, for a test's failure message.
  static std::string load_error() {
#ifdef _WIN32
    return "LoadLibrary failed with error " + std::to_string(GetLastError());
#else
    const char *message = dlerror();
    return message != nullptr ? message : "";
#endif
  }

 private:
#ifdef _WIN32
  using Handle = HMODULE;
  static Handle open(const char *path) {
    return LoadLibraryA(path);
  }
  static void close(Handle handle) {
    FreeLibrary(handle);
  }
  static void *find(Handle handle, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(handle, name));
  }
#else
  using Handle = void *;
  static Handle open(const char *path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
  }
  static void close(Handle handle) {
    dlclose(handle);
  }
  static void *find(Handle handle, const char *name) {
    return dlsym(handle, name);
  }
#endif

  Handle handle_;
};

}  // namespace vx_test
