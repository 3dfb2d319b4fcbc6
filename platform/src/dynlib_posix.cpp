#include <dlfcn.h>

#include <utility>

#include "platform/dynlib.h"

namespace platform {

DynamicLibrary::~DynamicLibrary() { close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), keep_(other.keep_), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    keep_ = other.keep_;
    error_ = std::move(other.error_);
  }
  return *this;
}

bool DynamicLibrary::open(const std::string& file) {
  close();
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    error_ = why ? why : "cannot load " + file;
    return false;
  }
  error_.clear();
  return true;
}

void* DynamicLibrary::symbol(const char* name) {
  if (!handle_) {
    error_ = "no library loaded";
    return nullptr;
  }
  dlerror();
  void* address = dlsym(handle_, name);
  if (!address) {
    const char* why = dlerror();
    error_ = why ? why : std::string("no export named ") + name;
  }
  return address;
}

void DynamicLibrary::close() {
  if (handle_ && !keep_) dlclose(handle_);
  handle_ = nullptr;
}

std::string libraryFileName(const std::string& base) { return "lib" + base + ".so"; }

}  // namespace platform
