// Whatever the encoder makes, at every level, decodes to its input: through
// the installer's decoder (with the unwritten ring positions poisoned, so a
// stream that reads them shows) and through the plain one.

#include "bench/plain_decoder.h"
#include "decoder/codec.h"
#include "decoder/decode.h"
#include "tests/unit/decoder/data_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const Level AllLevels[] = {Level::Fast, Level::Greedy, Level::Lazy, Level::Best};

const char* Name(Level level) {
    switch (level) {
    case Level::Fast:
        return "fast";
    case Level::Greedy:
        return "greedy";
    case Level::Lazy:
        return "lazy";
    case Level::Best:
        return "best";
    }
    return "?";
}

// Returns the stored size at each level.
std::map<Level, size_t> Verify(const std::vector<uint8_t>& input, const std::string& what) {
    std::map<Level, size_t> sizes;
    for (Level level : AllLevels) {
        std::vector<uint8_t> stored = EncodeStream(input, level);
        sizes[level] = stored.size();
        EXPECT_EQ(stored.empty(), input.empty()) << what << " " << Name(level);
        std::memset(Decoder.Ring + RingStart, 0xA7, RingSize - RingStart);
        EXPECT_EQ(DecodeMemory(stored, static_cast<uint32_t>(input.size())), input)
            << what << " at level " << Name(level);
        plain::Decoder reference;
        std::memset(reference.text + RingStart, 0x5C, RingSize - RingStart);
        std::vector<uint8_t> again =
            reference.Decode(stored.data(), static_cast<uint32_t>(stored.size()),
                             static_cast<int32_t>(input.size()));
        again.resize(input.size());
        EXPECT_EQ(again, input) << what << " at level " << Name(level) << ", plain decoder";
        // Whole streams: ones in place of the zero bits the decoder would read
        // past the stored bytes change nothing.
        std::vector<uint8_t> padded = stored;
        padded.insert(padded.end(), 8, 0xFF);
        EXPECT_EQ(DecodeMemory(padded, static_cast<uint32_t>(input.size())), input)
            << what << " at level " << Name(level) << " needs bits past its stored bytes";
    }
    return sizes;
}

std::vector<uint8_t> Text(size_t size) {
    static const char* const words[] = {"the ",       "saver ", "installs ", "into ",  "a ",
                                        "directory ", "of ",    "its ",      "own.\n", "Windows "};
    std::mt19937 rng(1);
    std::string s;
    while (s.size() < size) {
        s += words[rng() % 10];
    }
    s.resize(size);
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (uint8_t& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

TEST(RoundTrip, EdgeInputs) {
    Verify({}, "empty");
    Verify({'q'}, "one byte");
    Verify({' '}, "one blank");
    Verify({'a', 'b'}, "two bytes");
    Verify(std::vector<uint8_t>(10000, ' '), "all blanks");
    Verify(std::vector<uint8_t>(100000, 0), "all zeros");
    Verify(Random(50000, 2), "random");
    Verify(Text(70000), "text");
}

TEST(RoundTrip, PeriodsAroundTheWindowSize) {
    // A repeat at exactly the window distance, and one just beyond it.
    for (size_t period : {4095u, 4096u, 4097u}) {
        std::vector<uint8_t> block = Random(period, static_cast<uint32_t>(period));
        std::vector<uint8_t> input;
        for (int i = 0; i < 3; ++i) {
            input.insert(input.end(), block.begin(), block.end());
        }
        Verify(input, "period " + std::to_string(period));
    }
}

TEST(RoundTrip, OverOneMebibyteWithManyRebuilds) {
    std::vector<uint8_t> input = Text(600000);
    std::vector<uint8_t> noise = Random(300000, 9);
    input.insert(input.end(), noise.begin(), noise.end());
    std::vector<uint8_t> more = Text(250000);
    input.insert(input.end(), more.begin(), more.end());
    ASSERT_GT(input.size(), 1u << 20);
    Verify(input, "mixed 1.1 MiB");
}

TEST(RoundTrip, CorpusFiles) {
    for (const char* name : {"notes.txt", "chime.wav", "voice.wav", "sprites256.bmp", "tank640.bmp",
                             "saver_sample.exe"}) {
        std::vector<uint8_t> input;
        LOAD_TEST_DATA(std::string("corpus/") + name, input);
        std::map<Level, size_t> sizes = Verify(input, name);
        // The best level sizes the lazy parse of each chunk too, and sends it
        // where it wins.
        EXPECT_LE(sizes[Level::Best], sizes[Level::Lazy]) << name << ": best larger than lazy";
    }
}

TEST(RoundTrip, ProgressRisesToTheWholeSize) {
    std::vector<uint8_t> input = Text(300000);
    for (Level level : AllLevels) {
        std::vector<size_t> reports;
        EncodeStream(input, level, [&](size_t done) { reports.push_back(done); });
        ASSERT_GE(reports.size(), 4u) << Name(level);
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end())) << Name(level);
        EXPECT_EQ(reports.back(), input.size()) << Name(level);
    }
}

// The levels are ordered by what they try: the priced parse never loses to
// the greedy or the lazy one on material with matches worth choosing.
TEST(RoundTrip, BestBeatsGreedyAndLazyOnText) {
    std::vector<uint8_t> input = Text(100000);
    size_t greedy = EncodeStream(input, Level::Greedy).size();
    size_t lazy = EncodeStream(input, Level::Lazy).size();
    size_t best = EncodeStream(input, Level::Best).size();
    EXPECT_LT(best, greedy);
    EXPECT_LT(best, lazy);
}

} // namespace
