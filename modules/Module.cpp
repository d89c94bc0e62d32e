#include "Module.h"

#include <dlfcn.h>
#include <map>
#include <mutex>
#include <stdlib.h>
#include <unistd.h>

namespace {

std::string ProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) {
    return ".";
  }
  path.resize(static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

std::string TModule::Folder() {
  // secure_getenv: a program run with raised privileges never loads code from a folder that its
  // caller named.
  if (const char* folder = secure_getenv("KORVANE_MODULE_DIR"); folder != nullptr && *folder) {
    return folder;
  }
  return ProgramFolder() + "/" KORVANE_MODULE_RELATIVE_DIR;
}

void* TModule::Entry(const std::string& name, const char* symbol) {
  static std::mutex lock;
  static std::map<std::string, void*> loaded;
  std::lock_guard<std::mutex> guard(lock);
  void*& handle = loaded[name];
  if (handle == nullptr) {
    const std::string file = Folder() + "/" + name + ".so";
    // RTLD_NOW: a module that lacks a library fails here, with its reason, not in mid-command.
    handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      throw TModuleError("the module " + name + " cannot be loaded (" +
                         (why != nullptr ? why : file) + "); the installation is incomplete");
    }
  }
  void* entry = dlsym(handle, symbol);
  if (entry == nullptr) {
    throw TModuleError("the module " + name + " has no entry " + symbol +
                       "; it belongs to another version of korvane");
  }
  return entry;
}
