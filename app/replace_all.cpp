#include "app/replace_all.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pemlo {

namespace {

void* heapAllocate(std::size_t size) {
    return std::malloc(size);
}
void* heapResize(void* block, std::size_t size) {
    return std::realloc(block, size);
}
void heapRelease(void* block) {
    std::free(block);
}

}  // namespace

const ReplaceHeap& defaultReplaceHeap() {
    static const ReplaceHeap heap{heapAllocate, heapResize, heapRelease};
    return heap;
}

int findNext(const char* key, const char*& cursor, std::size_t& remaining) {
    const std::size_t keyLength = std::strlen(key);
    if (keyLength > 0 && keyLength <= remaining) {
        const std::size_t lastStart = remaining - keyLength;
        for (std::size_t i = 0; i <= lastStart; ++i) {
            if (cursor[i] == key[0] && std::memcmp(cursor + i + 1, key + 1, keyLength - 1) == 0) {
                const std::size_t end = i + keyLength;
                cursor += end;
                remaining -= end;
                return 1;
            }
        }
    }
    cursor += remaining;
    remaining = 0;
    return 0;
}

int replaceAll(char*& buffer, std::size_t& length, const char* key, const char* value,
               int* replaced, const ReplaceHeap& heap) {
    if (replaced != nullptr) {
        *replaced = 0;
    }
    const std::size_t keyLength = std::strlen(key);
    if (keyLength == 0 || buffer == nullptr) {
        return 0;
    }
    std::size_t count = 0;
    const char* cursor = buffer;
    std::size_t remaining = length;
    while (findNext(key, cursor, remaining) != 0) {
        ++count;
    }
    if (count == 0) {
        return 0;
    }

    const std::size_t valueLength = std::strlen(value);
    const std::size_t newLength = length - count * keyLength + count * valueLength;
    // A zero-byte result still needs a block of its own.
    auto* result = static_cast<char*>(heap.allocate(newLength > 0 ? newLength : 1));
    if (result == nullptr) {
        return -1;
    }
    char* out = result;
    const char* copied = buffer;
    cursor = buffer;
    remaining = length;
    while (findNext(key, cursor, remaining) != 0) {
        const char* matchStart = cursor - keyLength;
        const auto before = static_cast<std::size_t>(matchStart - copied);
        std::memcpy(out, copied, before);
        out += before;
        // The value goes in without its terminator.
        out = std::copy(value, value + valueLength, out);
        copied = cursor;
    }
    const auto tail = static_cast<std::size_t>(buffer + length - copied);
    std::memcpy(out, copied, tail);

    auto* resized = static_cast<char*>(heap.resize(buffer, newLength > 0 ? newLength : 1));
    if (resized == nullptr) {
        heap.release(result);
        return -1;
    }
    std::memcpy(resized, result, newLength);
    heap.release(result);
    buffer = resized;
    length = newLength;
    if (replaced != nullptr) {
        *replaced = static_cast<int>(count);
    }
    return 0;
}

}  // namespace pemlo
