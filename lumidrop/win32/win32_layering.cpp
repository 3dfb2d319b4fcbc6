// The class is declared before the system's header: its constants carry the
// system's names, which that header makes into macros.
#include "win32/win32_layering.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace lumidrop {

namespace {

// Window handles travel as 32-bit values; the system keeps user handles
// within 32 bits, sign-extended in 64-bit programs (so -1 and -2 stay
// HWND_TOPMOST and HWND_NOTOPMOST).
HWND windowOf(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

}  // namespace

int32_t Win32Layering::GetWindowLongA(int32_t hwnd, int32_t index) { return ::GetWindowLongA(windowOf(hwnd), index); }

int32_t Win32Layering::SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) {
  return ::SetWindowLongA(windowOf(hwnd), index, value);
}

int32_t Win32Layering::SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha, uint32_t flags) {
  const BOOL done = ::SetLayeredWindowAttributes(windowOf(hwnd), colourKey, alpha, flags);
  if (log_ && done) *log_ << "[overlay] alpha " << static_cast<int>(alpha) << std::endl;
  return done;
}

int32_t Win32Layering::SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                                    uint32_t flags) {
  const BOOL done = ::SetWindowPos(windowOf(hwnd), windowOf(insertAfter), x, y, cx, cy, flags);
  if (log_ && done && (insertAfter == -1 || insertAfter == -2)) {
    *log_ << "[overlay] " << (insertAfter == -1 ? "top-most" : "not top-most") << std::endl;
  }
  return done;
}

}  // namespace lumidrop
