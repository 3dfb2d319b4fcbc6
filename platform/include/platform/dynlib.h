// Loading a shared library by file name and binding its functions by name.
#pragma once

#include <string>

namespace platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // Loads `file` ("libtelvaris.so"); a name without a folder is searched
  // the system's way. False on failure; error() says why.
  bool open(const std::string& file);
  // Address of the export `name`, or nullptr (error() says why).
  void* symbol(const char* name);
  // The export `name` as a function pointer, or nullptr. Bind with
  // Fn = decltype(&::name) from the library's header, so that the compiler
  // checks the signature and the calling convention:
  //   auto report = lib.function<decltype(&::ReportVersion)>("ReportVersion");
  template <typename Fn>
  Fn function(const char* name) {
    return reinterpret_cast<Fn>(symbol(name));
  }
  void close();
  // From now on closing (or destroying this object) does not unload the
  // library: it stays loaded for the rest of the process, as a library
  // whose threads may outlive any owner must. Binding goes on as before.
  void keepLoaded() { keep_ = true; }

  bool isOpen() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  bool keep_ = false;
  std::string error_;
};

// The platform's file name for a library called `base` ("telvaris" gives
// "libtelvaris.so" here, "telvaris.dll" on Windows).
std::string libraryFileName(const std::string& base);

}  // namespace platform
