#include "core/plugin_loader.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace vxtrace {

const char *const kPluginFileName = "libvelocast_receiver_trace_consume_buffer.so";

namespace {

std::string executable_directory() {
  std::vector<char> path(PATH_MAX + 1);
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return ".";
  const std::string executable(path.data(), static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "." : executable.substr(0, slash);
}

#ifndef VXTRACE_INSTALLED_PLUGIN_DIR
#define VXTRACE_INSTALLED_PLUGIN_DIR "../lib"
#endif

// Beside vxtrace (the build tree), in the library directory of the prefix it
// is installed in, then by SONAME through the dynamic linker's search path.
std::vector<std::string> default_candidates() {
  const std::string directory = executable_directory();
  return {directory + "/" + kPluginFileName,
          directory + "/" VXTRACE_INSTALLED_PLUGIN_DIR "/" + kPluginFileName,
          std::string(kPluginFileName) + ".1"};
}

template <class Function>
bool resolve(void *handle, const char *name, Function *function, std::string *missing) {
  *function = reinterpret_cast<Function>(dlsym(handle, name));
  if (*function == nullptr) *missing += (missing->empty() ? "" : ", ") + std::string(name);
  return *function != nullptr;
}

// Why the dynamic linker could not open candidate, without the name that
// it starts with when it names the file itself.
std::string load_failure(const std::string &candidate) {
  const char *reason = dlerror();
  if (reason == nullptr) return candidate + ": cannot be loaded";
  const std::string text(reason);
  return text.starts_with(candidate + ": ") ? text.substr(candidate.size() + 2) : text;
}

}  // namespace

Plugin::~Plugin() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool Plugin::load(const std::string &path, std::string *error) {
  // A plug-in named on the command line failed for the reason given; one
  // looked for may be elsewhere, which --plugin can name.
  std::string why;
  if (!path.empty()) {
    if (open(path, &why)) return resolve_all(error);
    *error = "cannot load the plug-in " + path + ": " + why;
    return false;
  }
  std::string failures;
  for (const std::string &candidate : default_candidates()) {
    if (open(candidate, &why)) return resolve_all(error);
    failures += "; " + candidate + ": " + why;
  }
  *error = "cannot load the plug-in " + std::string(kPluginFileName) +
           " (--plugin PATH names one)" + failures;
  return false;
}

bool Plugin::open(const std::string &candidate, std::string *why) {
  handle_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    *why = load_failure(candidate);
    return false;
  }
  path_ = candidate;
  return true;
}

std::string Plugin::file() const {
  link_map *map = nullptr;
  if (handle_ == nullptr || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
    return {};
  char *resolved = realpath(map->l_name, nullptr);
  if (resolved == nullptr) return map->l_name;
  std::string file(resolved);
  std::free(resolved);
  return file;
}

bool Plugin::resolve_all(std::string *error) {
  std::string missing;
  resolve(handle_, "vx_buffer_iterator_create", &api_.buffer_iterator_create, &missing);
  resolve(handle_, "vx_buffer_iterator_get_raw_data", &api_.buffer_iterator_get_raw_data, &missing);
  resolve(handle_, "vexlo_register_events", &api_.register_events, &missing);
  resolve(handle_, "vx_set_logger", &api_.set_logger, &missing);
  resolve(handle_, "vx_get_logger", &api_.get_logger, &missing);
  resolve(handle_, "vx_log_severity_name", &api_.severity_name, &missing);
  if (missing.empty()) return true;
  *error = "the plug-in " + path_ + " does not export " + missing;
  return false;
}

}  // namespace vxtrace
