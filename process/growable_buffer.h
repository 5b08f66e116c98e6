// A heap buffer that the output phase keeps from frame to frame: it only grows, so once
// the first frame has set the sizes nothing is allocated again. Allocation failure is
// reported as 0, never thrown.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <type_traits>

namespace pemlo {

template <typename T>
class GrowableBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "raw storage only");

  public:
    GrowableBuffer() = default;
    GrowableBuffer(const GrowableBuffer&) = delete;
    GrowableBuffer& operator=(const GrowableBuffer&) = delete;
    ~GrowableBuffer() { release(); }

    // Sets the size to `count` elements, growing the storage when needed; the contents
    // are not kept. Returns 1, or 0 when memory runs out (the buffer is then empty).
    int resize(size_t count) {
        if (count > capacity_) {
            if (count > static_cast<size_t>(-1) / sizeof(T)) {
                release();
                return 0;
            }
            std::free(data_);
            data_ = static_cast<T*>(std::malloc(count * sizeof(T)));
            if (data_ == nullptr) {
                capacity_ = 0;
                size_ = 0;
                return 0;
            }
            capacity_ = count;
        }
        size_ = count;
        return 1;
    }

    void release() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
        capacity_ = 0;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace pemlo
