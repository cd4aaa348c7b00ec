// Loads the plug-in the way any consumer of the framework does: dlopen, then
// each exported function resolved by name. vxtrace never links the plug-in.
#pragma once

#include <string>

#include "vexlo/vexlo.h"

namespace vxtrace {

struct PluginApi {
  decltype(&vx_buffer_iterator_create) buffer_iterator_create = nullptr;
  decltype(&vx_buffer_iterator_get_raw_data) buffer_iterator_get_raw_data = nullptr;
  decltype(&vexlo_register_events) register_events = nullptr;
  decltype(&vx_set_logger) set_logger = nullptr;
  decltype(&vx_get_logger) get_logger = nullptr;
  decltype(&vx_log_severity_name) severity_name = nullptr;
};

class Plugin {
 public:
  Plugin() = default;
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;
  ~Plugin();

  // Loads the plug-in at path, or when path is empty the one beside the
  // running executable, then in ../lib/ from it. On failure returns false and
  // sets *error to a message of one line: why the dynamic linker refused
  // the file, or what it does not export.
  bool load(const std::string &path, std::string *error);

  const PluginApi &api() const { return api_; }
  const std::string &path() const { return path_; }
  // The file that the dynamic linker opened for path(), links resolved; empty
  // before a load.
  std::string file() const;

 private:
  // dlopen; on failure *why is the dynamic linker's reason.
  bool open(const std::string &candidate, std::string *why);
  bool resolve_all(std::string *error);

  void *handle_ = nullptr;
  std::string path_;
  PluginApi api_;
};

// The file name of the plug-in's shared object.
extern const char *const kPluginFileName;

}  // namespace vxtrace
