// The cursor image pemlo-replay draws at the positions of --cursor: a white arrow with a
// black edge, 32 x 32 pixels, packed BGR, bottom-up, key colour where it is transparent.
#pragma once

#include <vector>

namespace pemlo::replay {

std::vector<unsigned char> arrowCursor();

}  // namespace pemlo::replay
