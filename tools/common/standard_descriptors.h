// Descriptors 0, 1 and 2 made valid before a tool opens anything.
//
// A tool started with standard input, output or error closed would otherwise hand those
// numbers to the first files it opens, and its messages or progress would land in them
// (an FLV with a progress bar inside). Each closed one is opened on /dev/null.
#pragma once

namespace pemlo::tools {

// 1, or 0 when /dev/null cannot be opened (the tool should then stop at once).
int makeStandardDescriptorsValid();

}  // namespace pemlo::tools
