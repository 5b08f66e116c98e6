#include "tools/replay/arrow.h"

#include "capture/screen_source.h"

namespace pemlo::replay {

// The tool's own cursor: a white arrow with a black edge over the colour key.
std::vector<unsigned char> arrowCursor() {
    std::vector<unsigned char> image(kCursorImageBytes);
    for (int r = 0; r < kCursorSide; ++r) {  // r counts from the top
        for (int c = 0; c < kCursorSide; ++c) {
            unsigned char* p = &image[((kCursorSide - 1 - r) * kCursorSide + c) * 3];
            const int edge = r * 2 / 3;
            const bool head = r < 17 && c <= edge;
            const bool stem = r >= 14 && r < 23 && c >= 4 && c <= 7;
            if (!head && !stem) {
                p[0] = kCursorKeyBlue;
                p[1] = kCursorKeyGreen;
                p[2] = kCursorKeyRed;
                continue;
            }
            bool border = false;
            if (head && stem) {
                border = c == edge;  // where the stem leaves the head
            } else if (head) {
                border = c == 0 || c == edge || r == 16;
            } else {
                border = c == 4 || c == 7 || r == 22;
            }
            const unsigned char v = border ? 0 : 255;
            p[0] = v;
            p[1] = v;
            p[2] = v;
        }
    }
    return image;
}

}  // namespace pemlo::replay
