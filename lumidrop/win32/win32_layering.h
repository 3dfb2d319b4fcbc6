// The overlay's transparency and top-most placement: the user32 calls
// themselves, on the windows the Win32 backend made.
#pragma once

#include <ostream>

#include "forms/window_layering.h"

namespace lumidrop {

class Win32Layering : public WindowLayering {
 public:
  // `log`, when given, hears each alpha and placement ("[overlay] ...").
  explicit Win32Layering(std::ostream* log = nullptr) : log_(log) {}

  int32_t GetWindowLongA(int32_t hwnd, int32_t index) override;
  int32_t SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) override;
  int32_t SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha, uint32_t flags) override;
  int32_t SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                       uint32_t flags) override;

 private:
  std::ostream* log_;
};

}  // namespace lumidrop
