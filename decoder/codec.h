// The authoring side of the compressed entry format: the encoder, and a
// decode from memory to memory over the installer's own decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class Level {
    Fast,   // greedy over a short match search: for quick trial packages
    Greedy, // longest match at every step, full search: a reference point
    Lazy,   // defers a match by one byte when the next one is longer
    Best,   // shortest paths priced under the adaptive code, then repriced
            // by the counts they end with: what ships
};

// The levels by the names the authoring tool takes, fastest first.
struct LevelName {
    Level level;
    const char* name;
};
inline constexpr LevelName LevelNames[] = {
    {Level::Fast, "fast"}, {Level::Greedy, "greedy"}, {Level::Lazy, "lazy"}, {Level::Best, "best"}};

// Told how many input bytes the parse has got through so far, now and then
// and once at the end with the whole size: for a progress display.
using EncodeProgress = std::function<void(size_t done)>;

// Compresses `size` bytes (below 2^31). The result decodes, with the same
// original size, to exactly the input, and holds every bit the decoder takes:
// nothing is left to the zero bits it reads past the stored bytes. An empty
// input gives an empty result; any other gives at least one byte, since a
// stored size of 0 would read as the end of a package directory.
// The input is read where it lies. Beside it the encoder holds the result,
// whose room for as many bytes as the input is taken at once (growing would
// copy it), and a working set that does not grow with the input: under 1 MB,
// and at the best level the matches and parses of a 256 KiB chunk, about
// 9 MB on mixed data.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, Level level,
                                  const EncodeProgress& progress = {});
inline std::vector<uint8_t> EncodeStream(const std::vector<uint8_t>& data, Level level,
                                         const EncodeProgress& progress = {}) {
    return EncodeStream(data.data(), data.size(), level, progress);
}

// EncodeStream's stream when it is smaller than the input, which is the only
// stream a package has use for; otherwise an empty result, given as soon as
// the stream reaches the input's size, without parsing the rest. Holds what
// EncodeStream holds, and never more room for the stream than the input's
// size.
std::vector<uint8_t> EncodeSmaller(const uint8_t* data, size_t size, Level level,
                                   const EncodeProgress& progress = {});
inline std::vector<uint8_t> EncodeSmaller(const std::vector<uint8_t>& data, Level level,
                                          const EncodeProgress& progress = {}) {
    return EncodeSmaller(data.data(), data.size(), level, progress);
}

// Decodes a stream to exactly `originalSize` bytes; damaged input decodes to
// something. Uses the process-wide decoder state: one decode at a time.
std::vector<uint8_t> DecodeMemory(const uint8_t* stored, size_t storedSize, uint32_t originalSize);
inline std::vector<uint8_t> DecodeMemory(const std::vector<uint8_t>& stored,
                                         uint32_t originalSize) {
    return DecodeMemory(stored.data(), stored.size(), originalSize);
}

// Whether a stream decodes to exactly the `originalSize` bytes at
// `original`: a decode that compares as it goes, for a check that need not
// hold the input twice. Uses the decoder state as DecodeMemory does.
bool DecodesTo(const uint8_t* stored, size_t storedSize, const uint8_t* original,
               uint32_t originalSize);
inline bool DecodesTo(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& original) {
    return DecodesTo(stored.data(), stored.size(), original.data(),
                     static_cast<uint32_t>(original.size()));
}
