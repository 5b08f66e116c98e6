// The arithmetic of picking the area to record on the screen: a drag gives the rectangle
// between the press and the release, a click picks the window under the pointer, clipped
// to the screen. All values are the screen's physical pixels.
#pragma once

#include <string>

#include "app/settings.h"

namespace pemlo {

// Movement (in x and in y) below which a press and release count as a click, and the
// smallest width and height an area may have.
inline constexpr int kAreaClickSlop = 4;
inline constexpr int kAreaMinimumSize = 4;

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// A rectangle as the area fields hold it.
struct ScreenArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The rectangle between a press and a release, whatever the order of the corners: left
// and top are the smaller coordinates, width and height the differences.
ScreenArea areaBetween(ScreenPoint press, ScreenPoint release);

// Whether the pointer moved less than kAreaClickSlop pixels in both directions.
int isAreaClick(ScreenPoint press, ScreenPoint release);

// A window's rectangle given by its edges (right and bottom exclusive) cut to a screen of
// screenWidth x screenHeight at (0, 0). Width and height are 0 when nothing of it shows.
ScreenArea clipAreaToScreen(int left, int top, int right, int bottom, int screenWidth,
                            int screenHeight);

// Whether an area is large enough to be recorded (kAreaMinimumSize in both directions).
int isAreaAcceptable(const ScreenArea& area);

// What a press and release mean: a drag's rectangle, a click on a window, or nothing
// (a drag too small to record).
enum class AreaPickKind { Drag, Click, TooSmall };
AreaPickKind areaPickKind(ScreenPoint press, ScreenPoint release);

// The label written beside the rectangle while selecting: "W x H at L, T".
std::string areaLabel(const ScreenArea& area);

// Writes a picked area into the dialog's Left, Top, Width and Height fields and the same
// width and height into the output size fields (recorded 1:1 unless the user changes them).
void showPickedArea(SettingsView& view, const ScreenArea& area);

}  // namespace pemlo
