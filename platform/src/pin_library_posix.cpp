#include <dlfcn.h>

#include "platform/pin_library.h"

namespace platform {

bool keepLibraryLoaded(const void* address) {
  Dl_info info {};
  if (!dladdr(address, &info) || !info.dli_fname) return false;
  // Opening it once more with NODELETE marks it for good; the extra
  // reference is given back at once.
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  if (!handle) return false;
  dlclose(handle);
  return true;
}

}  // namespace platform
