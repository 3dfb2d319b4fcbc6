// Geometry that every window-system backend works out the same way: twips
// and pixels, slider ticks, the room a caption may grow into, and where a
// window the window system places goes first.
#pragma once

#include <cstdint>

#include "ui/controls.h"

namespace ui {

// Twips per pixel on a screen of `dpi` dots per inch (1440 / dpi: 15 at 96
// dpi); 15 when the dpi is not known (0 or less).
double twipsPerPixel(double dpi);
int32_t twipsToPixels(int32_t twips, double twipsPerPixel);
int32_t pixelsToTwips(int32_t pixels, double twipsPerPixel);

// The tick interval of a slider `lengthPixels` long: the smallest of its
// large step times 1, 2, 5, 10, 20, ... that keeps ticks at least 8 pixels
// apart (a tick every large step of a long range would draw a solid band).
int tickInterval(int32_t min, int32_t max, int32_t largeChange, int32_t lengthPixels);

// `control`'s place in pixels inside its container's client area. The
// designed sizes fit the designer's font; where this desktop's font needs
// `needWidth` × `needHeight` pixels for the caption, a label, check box or
// button with a caption grows to the right and down, within its container
// (a form's designed client area; a frame keeps its border).
Rect controlPixels(const Control& control, int32_t needWidth, int32_t needHeight, double twipsPerPixel);

// Where a window that the window system places (FormDesign::defaultPlacement)
// goes the first time, in twips, with the outer size `width` × `height`:
// beside the main window `main` and never over it (a top-most window over
// the panel's buttons would leave the user nothing to click), to its right
// when the screen's work area `area` has room, else to its left, else below
// it. Without a loaded main window (or when `form` is the main window) the
// windows cascade: `cascade` counts the ones placed that way so far.
Rect firstPlacement(const Form& form, const Form* main, const Rect& area, int32_t width, int32_t height,
                    int cascade);

}  // namespace ui
