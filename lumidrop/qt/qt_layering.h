// The overlay's transparency and top-most placement on Qt windows: the
// layered alpha becomes the window's opacity (alpha / 255), which the X11
// window system carries as _NET_WM_WINDOW_OPACITY; "top-most" becomes a
// window kept above the others.
#pragma once

#include <map>
#include <ostream>

#include "forms/window_layering.h"
#include "qt/qt_backend.h"

namespace lumidrop {

class QtLayering : public WindowLayering {
 public:
  // `log`, when given, hears each alpha and placement ("[overlay] ...").
  explicit QtLayering(ui::QtBackend& backend, std::ostream* log = nullptr) : backend_(backend), log_(log) {}

  // The extended style is kept per window; only WS_EX_LAYERED has a
  // meaning here. Unknown windows give 0 and change nothing.
  int32_t GetWindowLongA(int32_t hwnd, int32_t index) override;
  int32_t SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) override;
  // Applies the alpha when the window carries WS_EX_LAYERED and the flags
  // ask for LWA_ALPHA; 0 for a window that is not layered or not there.
  int32_t SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha, uint32_t flags) override;
  // HWND_TOPMOST / HWND_NOTOPMOST keep the window above the others or stop
  // doing so; without SWP_NOMOVE / SWP_NOSIZE the outer window moves to x, y
  // or takes the size cx, cy (pixels).
  int32_t SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                       uint32_t flags) override;

 private:
  ui::QtBackend& backend_;
  std::ostream* log_;
  std::map<int32_t, int32_t> exStyle_;
};

}  // namespace lumidrop
