#include <windows.h>

#include "platform/pin_library.h"

namespace platform {

bool keepLibraryLoaded(const void* address) {
  // Pinned: no FreeLibrary unloads it before the process ends.
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            static_cast<LPCSTR>(address), &module) != 0;
}

}  // namespace platform
