// The authoring side of the compressed entry format: the encoder, and a
// decode from memory to memory over the installer's own decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class Level {
    Fast,   // greedy over a short match search: for quick trial packages
    Greedy, // longest match at every step, full search: a reference point
    Lazy,   // defers a match by one byte when the next one is longer
    Best,   // parse priced bit by bit under the adaptive code: what ships
};

// Compresses `size` bytes (below 2^31). The result decodes, with the same
// original size, to exactly the input. An empty input gives an empty result;
// any other gives at least one byte, since a stored size of 0 would read as
// the end of a package directory.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, Level level);
inline std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& data, Level level) {
    return EncodeStream(data.data(), data.size(), level);
}

// Decodes a stream to exactly `originalSize` bytes; damaged input decodes to
// something. Uses the process-wide decoder state: one decode at a time.
std::vector<uint8_t> DecodeMemory(const uint8_t* stored, size_t storedSize, uint32_t originalSize);
inline std::vector<uint8_t> DecodeMemory(const std::vector<uint8_t>& stored,
                                         uint32_t originalSize) {
    return DecodeMemory(stored.data(), stored.size(), originalSize);
}
