// Whatever the encoder makes, at every level, decodes to its input: through
// the installer's decoder (with the unwritten ring positions poisoned, so a
// stream that reads them shows) and through the plain one. The encoder holds
// nothing the size of its input, and that changes no stream.

#include "bench/plain_decoder.h"
#include "decoder/codec.h"
#include "decoder/decode.h"
#include "tests/unit/decoder/data_dir.h"
#include "tests/unit/decoder/test_stream.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

// Every allocation of the test program is counted, so that a test can see
// the most memory a call held at once. The delete is kept out of line: once
// inlined, the compiler takes its free for one of memory that the library's
// own operator new gave.
static size_t LiveBytes = 0;
static size_t PeakBytes = 0;

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    LiveBytes += malloc_usable_size(p);
    PeakBytes = std::max(PeakBytes, LiveBytes);
    return p;
}

__attribute__((noinline)) void operator delete(void* p) noexcept {
    if (p) {
        LiveBytes -= malloc_usable_size(p);
        std::free(p);
    }
}

void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

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
        // The stream a package takes, and its check, which compares as it decodes.
        EXPECT_EQ(EncodeSmaller(input, level),
                  stored.size() < input.size() ? stored : std::vector<uint8_t>())
            << what << " at level " << Name(level);
        std::vector<uint8_t> changed = input;
        if (!input.empty()) {
            EXPECT_TRUE(DecodesTo(stored, input)) << what << " at level " << Name(level);
            changed[input.size() / 2] ^= 1;
            EXPECT_FALSE(DecodesTo(stored, changed)) << what << " at level " << Name(level);
        }
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
    // The best level prices 262,144 bytes at a time.
    Verify(Text(262144), "a whole chunk");
    Verify(Text(262145), "a byte past a chunk");
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

// The searching levels made again by brute force over the blanks and the
// input, and coded by the test's own stream writer: at each position the
// longest match, and of those the nearest, among the earlier positions of
// the window; at the fast level among the eight nearest whose first three
// bytes hash alike under the encoder's hash. The lazy level puts a match off
// when the one a byte on is longer.
std::vector<uint8_t> BruteForceParse(const std::vector<uint8_t>& input, int candidates, bool lazy) {
    std::string t(RingStart, ' ');
    t.append(input.begin(), input.end());
    auto hash = [&](size_t p) {
        uint32_t v =
            uint32_t(uint8_t(t[p])) << 16 | uint32_t(uint8_t(t[p + 1])) << 8 | uint8_t(t[p + 2]);
        return (v * 2654435761u) >> 16;
    };
    auto longest = [&](size_t pos) {
        int maxLen = int(std::min<size_t>(MaxMatch, t.size() - pos)), seen = 0;
        std::pair<int, int> best{0, 0}; // length, distance
        for (size_t d = 1; maxLen >= 3 && d <= RingSize && d <= pos && seen < candidates; ++d) {
            if (candidates < RingSize && hash(pos - d) != hash(pos)) {
                continue;
            }
            ++seen;
            int len = 0;
            while (len < maxLen && t[pos - d + size_t(len)] == t[pos + size_t(len)]) {
                ++len;
            }
            if (len >= 3 && len > best.first) {
                best = {len, int(d)};
                if (len == maxLen) {
                    break;
                }
            }
        }
        return best;
    };
    testing_streams::TestStream out;
    for (size_t pos = RingStart; pos < t.size();) {
        std::pair<int, int> here = longest(pos);
        if (here.first == 0 || (lazy && longest(pos + 1).first > here.first)) {
            out.Literal(uint8_t(t[pos++]));
        } else {
            out.Match(here.first, here.second - 1);
            pos += size_t(here.first);
        }
    }
    return out.Bytes();
}

TEST(RoundTrip, SearchingLevelsMakeTheBruteForceParse) {
    // The fast and lazy levels keep their links for 8,192 positions, the
    // first 4,066 of which are blanks: sizes around both, an input that opens
    // with blanks, and repeats at the window's distance.
    std::vector<uint8_t> blanksFirst(9000, ' '), block = Random(4096, 4), mixed = Text(30000);
    std::vector<uint8_t> text = Text(9000), period = block;
    blanksFirst.insert(blanksFirst.end(), text.begin(), text.end());
    period.insert(period.end(), block.begin(), block.end());
    mixed.insert(mixed.begin() + 12000, block.begin(), block.end());
    const std::vector<uint8_t> inputs[] = {
        Text(4), Text(8192 - RingStart), Text(8193 - RingStart), mixed, blanksFirst, period};
    const struct {
        Level level;
        int candidates;
        bool lazy;
    } levels[] = {
        {Level::Fast, 8, false}, {Level::Greedy, RingSize, false}, {Level::Lazy, RingSize, true}};
    for (const std::vector<uint8_t>& input : inputs) {
        for (const auto& l : levels) {
            EXPECT_EQ(EncodeStream(input, l.level), BruteForceParse(input, l.candidates, l.lazy))
                << Name(l.level) << ", " << input.size() << " bytes";
        }
    }
}

// The most memory a call held at once beyond its result's.
template <class Call> size_t WorkingBytes(Call call) {
    size_t before = LiveBytes;
    PeakBytes = before;
    std::vector<uint8_t> result = call();
    return PeakBytes - before - malloc_usable_size(result.data());
}

TEST(RoundTrip, WorkingMemoryDoesNotGrowWithTheInput) {
    // Four times the input, over several of the best level's chunks, takes
    // at most a sixteenth more beside its stream; the check takes nothing.
    std::vector<uint8_t> small = Text(600000), large = Text(2400000);
    for (Level level : AllLevels) {
        size_t a = WorkingBytes([&] { return EncodeSmaller(small, level); });
        size_t b = WorkingBytes([&] { return EncodeSmaller(large, level); });
        EXPECT_LE(b, a + a / 16) << Name(level) << ": " << a << " bytes, then " << b;
    }
    std::vector<uint8_t> stream = EncodeStream(small, Level::Fast);
    size_t before = LiveBytes;
    PeakBytes = before;
    EXPECT_TRUE(DecodesTo(stream, small));
    EXPECT_EQ(PeakBytes, before) << "the check held a copy of the input";
}

} // namespace
