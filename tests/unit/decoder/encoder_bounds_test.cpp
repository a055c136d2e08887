// The encoder keeps nothing the size of its input, and that changes no
// stream: the searching levels give the parse a search of the whole window
// gives, across the places where the bounded structures wrap or end; the
// checked decode and the smaller-only stream agree with the plain calls; and
// the memory a parse takes beside its stream does not grow with the input.

#include "decoder/codec.h"
#include "tests/unit/decoder/test_stream.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

// Every allocation of the test program is counted, so a test can see the
// most memory a call held at once.
namespace {
std::atomic<size_t> LiveBytes{0};
std::atomic<size_t> PeakBytes{0};
} // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    size_t live = LiveBytes += malloc_usable_size(p);
    size_t peak = PeakBytes;
    while (live > peak && !PeakBytes.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void operator delete(void* p) noexcept {
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

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (uint8_t& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

// Words with runs of noise between them: matches at every distance, chains
// of every length, and stretches with no match at all.
std::vector<uint8_t> Mixed(size_t size, uint32_t seed) {
    static const char* const words[] = {"saver ", "   ",        "install ",  "Windows ",
                                        "\r\n",   "directory ", "SCRNSAVE ", "the "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < size) {
        if (rng() % 16 == 0) {
            for (int n = rng() % 40; n > 0; --n) {
                v.push_back(static_cast<uint8_t>(rng()));
            }
        } else {
            const char* w = words[rng() % 8];
            v.insert(v.end(), w, w + std::char_traits<char>::length(w));
        }
    }
    v.resize(size);
    return v;
}

// The parses that search the whole window, made again by brute force over
// the input behind its blanks and coded by the test's own stream writer. The
// fast level looks at the eight nearest earlier positions whose first three
// bytes hash alike, under the encoder's hash, which is part of what it
// promises to make; the other two at every position in the window.
struct Reference {
    std::string text; // the blanks, then the input
    int maxCandidates;

    static uint32_t Hash(const char* s) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
        uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
        return (v * 2654435761u) >> 16;
    }

    // The longest match at pos, and of those the nearest; length 0 for none.
    std::pair<int, int> Longest(size_t pos) const {
        int maxLen = static_cast<int>(std::min<size_t>(30, text.size() - pos));
        std::pair<int, int> best{0, 0};
        if (maxLen < 3) {
            return best;
        }
        int seen = 0;
        for (size_t d = 1; d <= 4096 && d <= pos && seen < maxCandidates; ++d) {
            const char* there = &text[pos - d];
            if (maxCandidates < 4096 && Hash(there) != Hash(&text[pos])) {
                continue;
            }
            ++seen;
            int len = 0;
            while (len < maxLen && there[len] == text[pos + static_cast<size_t>(len)]) {
                ++len;
            }
            if (len >= 3 && len > best.first) {
                best = {len, static_cast<int>(d)};
                if (len == maxLen) {
                    break;
                }
            }
        }
        return best;
    }

    std::vector<uint8_t> Parse(bool lazy) const {
        testing_streams::TestStream out;
        for (size_t pos = testing_streams::TestStream::Prefill; pos < text.size();) {
            std::pair<int, int> here = Longest(pos);
            if (here.first == 0 || (lazy && Longest(pos + 1).first > here.first)) {
                out.Literal(static_cast<uint8_t>(text[pos++]));
                continue;
            }
            out.Match(here.first, here.second - 1);
            pos += static_cast<size_t>(here.first);
        }
        return out.Bytes();
    }
};

TEST(EncoderBounds, SearchingLevelsMakeTheWholeWindowsParse) {
    // The finder's links wrap every 8,192 positions, and the first 4,066 of
    // them are blanks: sizes around both, an input that opens with blanks,
    // and repeats at the window's distance.
    std::vector<uint8_t> blanksFirst(9000, ' ');
    std::vector<uint8_t> tail = Mixed(9000, 3);
    blanksFirst.insert(blanksFirst.end(), tail.begin(), tail.end());
    std::vector<uint8_t> block = Random(4096, 4), period;
    for (int i = 0; i < 4; ++i) {
        period.insert(period.end(), block.begin(), block.end());
    }
    const struct {
        const char* what;
        std::vector<uint8_t> input;
    } cases[] = {
        {"4 bytes", Mixed(4, 1)},
        {"to the links' wrap", Mixed(8192 - 4066, 5)},
        {"past the links' wrap", Mixed(8192 - 4066 + 1, 5)},
        {"mixed 40 KB", Mixed(40000, 6)},
        {"blanks first", blanksFirst},
        {"period 4096", period},
    };
    const struct {
        Level level;
        int candidates;
        bool lazy;
    } levels[] = {{Level::Fast, 8, false}, {Level::Greedy, 4096, false}, {Level::Lazy, 4096, true}};
    for (const auto& c : cases) {
        Reference ref{std::string(testing_streams::TestStream::Prefill, ' '), 0};
        ref.text.append(c.input.begin(), c.input.end());
        for (const auto& l : levels) {
            ref.maxCandidates = l.candidates;
            EXPECT_EQ(EncodeStream(c.input, l.level), ref.Parse(l.lazy))
                << c.what << " at level " << static_cast<int>(l.level);
        }
    }
}

TEST(EncoderBounds, CheckedDecodeAndSmallerStreamAgreeWithThePlainCalls) {
    // The best level prices 262,144 positions at a time; a stream that is
    // not smaller than its input is given up where it reaches that size.
    const struct {
        const char* what;
        std::vector<uint8_t> input;
    } cases[] = {
        {"one byte", {'x'}},
        {"two zeros", {0, 0}},
        {"random", Random(20000, 7)},
        {"zeros to the chunk's end", std::vector<uint8_t>(262144, 0)},
        {"mixed past the chunk's end", Mixed(262144 + 1, 8)},
        {"mixed then random",
         [] {
             std::vector<uint8_t> v = Mixed(300000, 9);
             std::vector<uint8_t> r = Random(200000, 10);
             v.insert(v.end(), r.begin(), r.end());
             return v;
         }()},
    };
    for (const auto& c : cases) {
        for (Level level : AllLevels) {
            std::string what = std::string(c.what) + " at level " + std::to_string(int(level));
            std::vector<uint8_t> stream = EncodeStream(c.input, level);
            std::vector<uint8_t> smaller = EncodeSmaller(c.input, level);
            if (stream.size() < c.input.size()) {
                EXPECT_EQ(smaller, stream) << what;
            } else {
                EXPECT_TRUE(smaller.empty()) << what;
            }
            EXPECT_EQ(DecodeMemory(stream, uint32_t(c.input.size())), c.input) << what;
            EXPECT_TRUE(DecodesTo(stream, c.input)) << what;
            for (size_t at : {size_t(0), c.input.size() / 2, c.input.size() - 1}) {
                std::vector<uint8_t> other = c.input;
                other[at] ^= 1;
                EXPECT_FALSE(DecodesTo(stream, other)) << what << ", byte " << at << " changed";
            }
        }
    }
}

// The most memory held at once during the call beyond the result's own.
template <class Call> size_t WorkingBytes(Call call) {
    size_t before = LiveBytes;
    PeakBytes = before;
    std::vector<uint8_t> result = call();
    return PeakBytes - before - malloc_usable_size(result.data());
}

TEST(EncoderBounds, WorkingMemoryDoesNotGrowWithTheInput) {
    // Both sizes span several of the best level's chunks; the larger is four
    // times the smaller and may take no more than 1/16 more beside its stream.
    std::vector<uint8_t> small = Mixed(600000, 11);
    std::vector<uint8_t> large = Mixed(2400000, 11);
    for (Level level : AllLevels) {
        size_t a = WorkingBytes([&] { return EncodeSmaller(small, level); });
        size_t b = WorkingBytes([&] { return EncodeSmaller(large, level); });
        EXPECT_LE(b, a + a / 16) << "level " << int(level) << ": " << a << " bytes for "
                                 << small.size() << ", " << b << " for " << large.size();
    }
    // The checked decode holds nothing at all.
    std::vector<uint8_t> stream = EncodeStream(large, Level::Fast);
    size_t before = LiveBytes;
    PeakBytes = before;
    EXPECT_TRUE(DecodesTo(stream, large));
    EXPECT_EQ(PeakBytes, before);
}

} // namespace
