#include <windows.h>

#include <utility>

#include "platform/dynlib.h"
#include "platform/system_error.h"

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
  handle_ = reinterpret_cast<void*>(LoadLibraryA(file.c_str()));
  if (!handle_) {
    error_ = "cannot load " + file + ": " + systemErrorText(static_cast<int>(GetLastError()));
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
  auto address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (!address) error_ = std::string("no export named ") + name;
  return address;
}

void DynamicLibrary::close() {
  if (handle_ && !keep_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

std::string libraryFileName(const std::string& base) { return base + ".dll"; }

}  // namespace platform
