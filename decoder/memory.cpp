#include "decoder/codec.h"
#include "decoder/decode.h"
#include "decoder/memory.h"

std::vector<uint8_t> DecodeMemory(const uint8_t* stored, size_t storedSize, uint32_t originalSize) {
    std::vector<uint8_t> out(originalSize);
    MemorySource in{stored};
    MemorySink sink{out.data(), 0};
    DecodeStream(in, sink, static_cast<int32_t>(originalSize), static_cast<uint32_t>(storedSize));
    return out;
}
