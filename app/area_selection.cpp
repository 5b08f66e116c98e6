#include "app/area_selection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pemlo {

ScreenArea areaBetween(ScreenPoint press, ScreenPoint release) {
    ScreenArea a;
    a.left = std::min(press.x, release.x);
    a.top = std::min(press.y, release.y);
    a.width = std::abs(release.x - press.x);
    a.height = std::abs(release.y - press.y);
    return a;
}

int isAreaClick(ScreenPoint press, ScreenPoint release) {
    return std::abs(release.x - press.x) < kAreaClickSlop &&
                   std::abs(release.y - press.y) < kAreaClickSlop
               ? 1
               : 0;
}

ScreenArea clipAreaToScreen(int left, int top, int right, int bottom, int screenWidth,
                            int screenHeight) {
    const int l = std::clamp(left, 0, std::max(screenWidth, 0));
    const int t = std::clamp(top, 0, std::max(screenHeight, 0));
    const int r = std::clamp(right, l, std::max(screenWidth, l));
    const int b = std::clamp(bottom, t, std::max(screenHeight, t));
    return ScreenArea{l, t, r - l, b - t};
}

int isAreaAcceptable(const ScreenArea& area) {
    return area.width >= kAreaMinimumSize && area.height >= kAreaMinimumSize ? 1 : 0;
}

AreaPickKind areaPickKind(ScreenPoint press, ScreenPoint release) {
    if (isAreaClick(press, release)) {
        return AreaPickKind::Click;
    }
    return isAreaAcceptable(areaBetween(press, release)) ? AreaPickKind::Drag
                                                         : AreaPickKind::TooSmall;
}

std::string areaLabel(const ScreenArea& area) {
    char text[64];
    std::snprintf(text, sizeof text, "%d x %d at %d, %d", area.width, area.height, area.left,
                  area.top);
    return text;
}

void showPickedArea(SettingsView& view, const ScreenArea& area) {
    view.setFieldText(kIdCaptureLeft, std::to_string(area.left));
    view.setFieldText(kIdCaptureTop, std::to_string(area.top));
    view.setFieldText(kIdCaptureWidth, std::to_string(area.width));
    view.setFieldText(kIdCaptureHeight, std::to_string(area.height));
    mirrorOutputSize(view, area.width, area.height);
}

}  // namespace pemlo
