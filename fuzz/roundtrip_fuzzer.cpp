// Whatever the encoder is given, at any level, decodes back to it, without
// the decoder reading ring positions it has not written.

#include "decoder/codec.h"
#include "decoder/decode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const Level levels[] = {Level::Fast, Level::Greedy, Level::Lazy, Level::Best};
    Level level = levels[data[0] % 4];
    std::vector<uint8_t> input(data + 1, data + size);
    std::vector<uint8_t> stored = EncodeStream(input, level);
    if (stored.empty() != input.empty()) {
        abort();
    }
    // Poison the positions a conforming stream never reads before writing.
    std::memset(Decoder.Ring + RingStart, data[0] ^ 0x5A, RingSize - RingStart);
    if (DecodeMemory(stored, static_cast<uint32_t>(input.size())) != input) {
        abort();
    }
    return 0;
}
