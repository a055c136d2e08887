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

namespace {

// Compares what the decoder produces with the original instead of keeping it.
struct CheckSink {
    const uint8_t* original;
    uint32_t written;
    bool same;
};

void WritePtr(CheckSink& sink, uint8_t byte, int32_t originalSize) {
    if (sink.written < static_cast<uint32_t>(originalSize)) {
        sink.same = sink.same && sink.original[sink.written++] == byte;
    }
}

} // namespace

bool DecodesTo(const uint8_t* stored, size_t storedSize, const uint8_t* original,
               uint32_t originalSize) {
    MemorySource in{stored};
    CheckSink sink{original, 0, true};
    DecodeStream(in, sink, static_cast<int32_t>(originalSize), static_cast<uint32_t>(storedSize));
    return sink.same;
}
