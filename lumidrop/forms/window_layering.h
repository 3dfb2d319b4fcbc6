// The window calls the overlay makes for its transparency and top-most
// placement, with the user32 meanings: a window handle, an extended style
// that must carry the layered bit before an alpha is applied, the alpha
// itself, and a placement above (or among) the other windows.
#pragma once

#include <cstdint>

namespace lumidrop {

class WindowLayering {
 public:
  static constexpr int32_t GWL_EXSTYLE = -20;
  static constexpr int32_t WS_EX_LAYERED = 0x80000;
  static constexpr uint32_t LWA_ALPHA = 2;
  static constexpr int32_t HWND_TOPMOST = -1;
  static constexpr int32_t HWND_NOTOPMOST = -2;
  static constexpr uint32_t SWP_NOSIZE = 1;
  static constexpr uint32_t SWP_NOMOVE = 2;

  virtual ~WindowLayering() = default;
  virtual int32_t GetWindowLongA(int32_t hwnd, int32_t index) = 0;
  virtual int32_t SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) = 0;
  virtual int32_t SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha, uint32_t flags) = 0;
  virtual int32_t SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                               uint32_t flags) = 0;
};

}  // namespace lumidrop
