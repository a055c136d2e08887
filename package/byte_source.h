// Random access to the bytes of an installer file that may be hostile, for
// the authoring side: the layout check, the package reader and the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pkg {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to `count` bytes from `offset` into `buffer` and returns how
    // many there were: fewer at the end of the bytes, none past it.
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;
};

// Bytes held by someone else, who keeps them alive.
class MemoryBytes : public ByteSource {
  public:
    MemoryBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit MemoryBytes(const std::vector<uint8_t>& bytes)
        : data_(bytes.data()), size_(bytes.size()) {}

    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset >= size_)
            return 0;
        size_t available = size_t(size_ - offset);
        size_t n = count < available ? count : available;
        if (n > 0)
            std::memcpy(buffer, data_ + offset, n);
        return n;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

} // namespace pkg
