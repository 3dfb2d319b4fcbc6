#include "qt/qt_layering.h"

#include <QWidget>
#include <algorithm>
#include <QWindow>

namespace lumidrop {

int32_t QtLayering::GetWindowLongA(int32_t hwnd, int32_t index) {
  if (index != GWL_EXSTYLE || !backend_.window(hwnd)) return 0;
  auto it = exStyle_.find(hwnd);
  return it == exStyle_.end() ? 0 : it->second;
}

int32_t QtLayering::SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) {
  if (index != GWL_EXSTYLE || !backend_.window(hwnd)) return 0;
  const int32_t old = GetWindowLongA(hwnd, index);
  exStyle_[hwnd] = value;
  return old;
}

int32_t QtLayering::SetLayeredWindowAttributes(int32_t hwnd, uint32_t /*colourKey*/, uint8_t alpha,
                                               uint32_t flags) {
  QWidget* w = backend_.window(hwnd);
  if (!w || (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) == 0) return 0;
  if ((flags & LWA_ALPHA) == 0) return 1;
  w->winId();
  QWindow* window = w->windowHandle();
  if (!window) return 0;
  window->setOpacity(static_cast<double>(alpha) / 255.0);
  backend_.flush();
  if (log_) *log_ << "[overlay] alpha " << static_cast<int>(alpha) << std::endl;
  return 1;
}

int32_t QtLayering::SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                                 uint32_t flags) {
  QWidget* w = backend_.window(hwnd);
  if (!w) return 0;
  if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
    backend_.setStaysOnTop(hwnd, insertAfter == HWND_TOPMOST);
    if (log_) *log_ << "[overlay] " << (insertAfter == HWND_TOPMOST ? "top-most" : "not top-most") << std::endl;
  }
  if ((flags & SWP_NOMOVE) == 0) w->move(x, y);
  if ((flags & SWP_NOSIZE) == 0) {
    const QSize frame = w->frameGeometry().size() - w->size();
    w->resize(std::max(1, cx - frame.width()), std::max(1, cy - frame.height()));
  }
  return 1;
}

}  // namespace lumidrop
