// Picking the area to record on the screen: a full-screen overlay over a still picture of
// the primary display, dimmed, on which the user drags a rectangle or clicks a window.
// It exists only while the user picks.
#pragma once

#include <windows.h>

#include "app/area_selection.h"

namespace pemlo {

// Hides `owner`, takes the picture of the screen once it has gone, and runs the overlay
// (caption "Select area") until the user accepts an area or cancels (Escape, the right
// button, Alt+F4). Shows `owner` again before it returns. Returns 1 with `area` set, in
// the screen's physical pixels, or 0 when cancelled or when the overlay could not be made.
int pickScreenArea(HINSTANCE instance, HWND owner, ScreenArea& area);

}  // namespace pemlo
