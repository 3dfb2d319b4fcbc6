#include "ui/geometry.h"

#include <algorithm>
#include <cmath>

namespace ui {

double twipsPerPixel(double dpi) { return dpi > 0 ? 1440.0 / dpi : static_cast<double>(kTwipsPerPixel); }

int32_t twipsToPixels(int32_t twips, double tpp) { return static_cast<int32_t>(std::lround(twips / tpp)); }

int32_t pixelsToTwips(int32_t pixels, double tpp) { return static_cast<int32_t>(std::lround(pixels * tpp)); }

int tickInterval(int32_t min, int32_t max, int32_t largeChange, int32_t lengthPixels) {
  constexpr int kMinimumSpacing = 8;  // pixels between two ticks
  const int64_t range = std::max<int64_t>(int64_t{max} - min, 1);
  const int64_t step = std::max<int32_t>(largeChange, 1);
  // The large step times 1, 2, 5, 10, 20, 50, ...: ticks at round values.
  for (int64_t decade = 1;; decade *= 10) {
    for (int64_t factor : {1, 2, 5}) {
      const int64_t interval = step * factor * decade;
      if (interval >= range || interval * lengthPixels >= range * kMinimumSpacing) {
        return static_cast<int>(std::min<int64_t>(interval, INT32_MAX));
      }
    }
  }
}

Rect controlPixels(const Control& control, int32_t needWidth, int32_t needHeight, double tpp) {
  Rect r{twipsToPixels(control.left(), tpp), twipsToPixels(control.top(), tpp), twipsToPixels(control.width(), tpp),
         twipsToPixels(control.height(), tpp)};
  const Kind kind = control.kind();
  if (control.caption().empty() || (kind != Kind::Label && kind != Kind::CheckBox && kind != Kind::Button)) return r;
  const Container* container = control.parent();
  if (!container) return r;
  int32_t roomRight = 0, roomDown = 0;
  if (container->kind() == Kind::Form) {
    const FormDesign& design = static_cast<const Form*>(container)->design();
    roomRight = twipsToPixels(design.clientWidth, tpp) - r.left;
    roomDown = twipsToPixels(design.clientHeight, tpp) - r.top;
  } else {
    constexpr int32_t kFrameBorder = 2;
    roomRight = twipsToPixels(container->width(), tpp) - kFrameBorder - r.left;
    roomDown = twipsToPixels(container->height(), tpp) - kFrameBorder - r.top;
  }
  if (needWidth > r.width) r.width = std::max(r.width, std::min(needWidth, roomRight));
  if (needHeight > r.height) r.height = std::max(r.height, std::min(needHeight, roomDown));
  return r;
}

Rect firstPlacement(const Form& form, const Form* main, const Rect& area, int32_t width, int32_t height,
                    int cascade) {
  if (!main || main == &form || !main->loaded()) {
    // Like a window system's cascade: each new window a little lower and
    // further right, starting again after a few.
    const int32_t offset = (cascade % 8) * 26 * kTwipsPerPixel;
    return {1440 + offset, 1440 + offset, width, height};
  }
  const int32_t areaRight = area.left + area.width, areaBottom = area.top + area.height;
  const int32_t gap = 8 * kTwipsPerPixel;
  int32_t left = main->left() + main->width() + gap;
  int32_t top = main->top();
  if (left + width > areaRight) {
    if (main->left() - gap - width >= area.left) {
      left = main->left() - gap - width;
    } else {
      left = main->left();
      top = main->top() + std::max(main->height(), main->designRect().height) + gap;
    }
  }
  left = std::max(area.left, std::min(left, areaRight - width));
  top = std::max(area.top, std::min(top, areaBottom - height));
  return {left, top, width, height};
}

}  // namespace ui
