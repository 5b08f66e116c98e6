// Replacing every occurrence of a key in a counted heap buffer. Used to fill the preview
// page template and to build the thumbnail path.
#pragma once

#include <cstddef>

namespace pemlo {

// The heap functions replaceAll uses; tests swap them to make a resize fail.
struct ReplaceHeap {
    void* (*allocate)(std::size_t size);
    void* (*resize)(void* block, std::size_t size);
    void (*release)(void* block);
};

// std::malloc, std::realloc and std::free.
const ReplaceHeap& defaultReplaceHeap();

// The search step: looks for the terminated, non-empty `key` in the `remaining` bytes at
// `cursor`. On a match returns 1 and moves the cursor (and shrinks `remaining`) to just
// past the match. Otherwise returns 0 with the cursor moved to the end and remaining 0.
int findNext(const char* key, const char*& cursor, std::size_t& remaining);

// Replaces every non-overlapping occurrence of `key` in the `length` bytes of `buffer`
// (a block from the heap functions, std::malloc by default) by `value`. The buffer is
// resized to exactly the new length; no terminator is added, and bytes inside the
// counted length (a terminator included) are carried along as they are. With no
// occurrence the buffer is left untouched. Returns 0, or -1 when memory runs out, in
// which case buffer and length are as they were. `replaced` (when given) receives the
// number of occurrences replaced (0 on failure).
int replaceAll(char*& buffer, std::size_t& length, const char* key, const char* value,
               int* replaced = nullptr, const ReplaceHeap& heap = defaultReplaceHeap());

}  // namespace pemlo
