// Arbitrary bytes and sizes through the decoder: it must end, stay in its
// tables and ring, hand over between originalSize and originalSize + 29
// bytes, and agree byte for byte with the plain decoder.

#include "bench/plain_decoder.h"
#include "decoder/decode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Source {
    const uint8_t* next;
    const uint8_t* end;
};
struct Sink {
    std::vector<uint8_t> bytes;
};

uint8_t ReadPtr(Source& in, uint32_t) {
    if (in.next == in.end) {
        abort(); // read past the stored size
    }
    return *in.next++;
}
void WritePtr(Sink& out, uint8_t byte, int32_t) {
    out.bytes.push_back(byte);
}

// Original sizes below 1,024 bytes, which keeps the run above a thousand
// inputs a second. libFuzzer keeps and mutates the inputs that reach new
// code, so even a rare large size soon fills most of the run: sizes that
// reach the tree's rebuild (32,768 symbols) held it to about 150 a second.
// The rebuild is left to the round-trip fuzzer and to the decoder's tests
// over the shared vectors.
int32_t OriginalSize(uint32_t code) {
    return static_cast<int32_t>(code % 1024);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    int32_t original = OriginalSize(static_cast<uint32_t>(data[0] | data[1] << 8));
    const uint8_t* stored = data + 2;
    uint32_t storedSize = static_cast<uint32_t>(size - 2);

    std::memset(Decoder.Ring, 0, sizeof Decoder.Ring);
    Source in{stored, stored + storedSize};
    Sink out;
    int32_t produced = DecodeStream(in, out, original, storedSize);
    if (produced != static_cast<int32_t>(out.bytes.size())) {
        abort();
    }
    if (original == 0 ? produced != 0 : produced < original || produced > original + 29) {
        abort();
    }
    static plain::Decoder reference;
    std::memset(reference.text, 0, sizeof reference.text);
    if (reference.Decode(stored, storedSize, original) != out.bytes) {
        abort();
    }
    return 0;
}
