// Byte source and sink in memory for DecodeStream.
#pragma once

#include <stdint.h>

struct MemorySource {
    const uint8_t* next;
};

inline uint8_t ReadPtr(MemorySource& in, uint32_t) {
    return *in.next++;
}

// Keeps the first originalSize bytes: a last match may run past them.
struct MemorySink {
    uint8_t* out;
    uint32_t written;
};

inline void WritePtr(MemorySink& sink, uint8_t byte, int32_t originalSize) {
    if (sink.written < static_cast<uint32_t>(originalSize)) {
        sink.out[sink.written++] = byte;
    }
}
