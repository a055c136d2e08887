// The decoder against hand-made streams, the tree against its rules, and the
// fast decoder against the plain one.

#include "decoder/decode.h"
#include "tests/unit/decoder/test_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct CountingSource {
    const uint8_t* next;
    int calls = 0;
};
struct RecordingSink {
    std::vector<uint8_t> bytes; // everything handed over, the excess included
};

uint8_t ReadPtr(CountingSource& in, uint32_t) {
    ++in.calls;
    return *in.next++;
}
void WritePtr(RecordingSink& out, uint8_t byte, int32_t) {
    out.bytes.push_back(byte);
}

struct Decoded {
    int32_t result;
    std::vector<uint8_t> bytes;
    int reads;
};

Decoded Decode(const std::vector<uint8_t>& stored, int32_t originalSize) {
    CountingSource in{stored.data()};
    RecordingSink out;
    int32_t result = DecodeStream(in, out, originalSize, static_cast<uint32_t>(stored.size()));
    return {result, out.bytes, in.calls};
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string Repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += s;
    }
    return out;
}

// Root-first path of a symbol's leaf in the decoder's tree.
std::string PathOf(const AdaptiveTree& tree, int symbol) {
    std::string code;
    for (int x = tree.Parent[symbol + NodeCount]; x != RootNode; x = tree.Parent[x]) {
        code.insert(code.begin(), x == tree.Child[tree.Parent[x]] ? '0' : '1');
    }
    return code;
}

::testing::AssertionResult TreeIsSound(const AdaptiveTree& t) {
    if (t.Freq[NodeCount] != 0xFFFF) {
        return ::testing::AssertionFailure() << "sentinel lost";
    }
    std::vector<int> referenced(NodeCount, 0);
    uint32_t leafSum = 0;
    for (int i = 0; i < NodeCount; ++i) {
        if (i < RootNode && t.Freq[i] > t.Freq[i + 1]) {
            return ::testing::AssertionFailure() << "weights fall at node " << i;
        }
        int c = t.Child[i];
        if (c >= NodeCount) {
            leafSum += t.Freq[i];
            if (c >= NodeCount + SymbolCount || t.Parent[c] != i) {
                return ::testing::AssertionFailure() << "leaf link broken at node " << i;
            }
            continue;
        }
        // Siblings are c and c + 1: both must point back, and weigh the sum.
        if (c + 1 >= i || t.Parent[c] != i || t.Parent[c + 1] != i) {
            return ::testing::AssertionFailure() << "child links broken at node " << i;
        }
        if (t.Freq[i] != t.Freq[c] + t.Freq[c + 1]) {
            return ::testing::AssertionFailure() << "node " << i << " is not its children's sum";
        }
        ++referenced[c];
        ++referenced[c + 1];
    }
    for (int i = 0; i < RootNode; ++i) {
        if (referenced[i] != 1) {
            return ::testing::AssertionFailure()
                   << "node " << i << " has " << referenced[i] << " parents";
        }
    }
    if (leafSum != t.Freq[RootNode]) {
        return ::testing::AssertionFailure() << "root weight is not the leaves' sum";
    }
    return ::testing::AssertionSuccess();
}

TEST(DecodeStream, OriginalSizeZeroReadsAndWritesNothing) {
    std::vector<uint8_t> stored(16, 0xA5);
    Decoded d = Decode(stored, 0);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.reads, 0);
    EXPECT_TRUE(d.bytes.empty());
}

TEST(DecodeStream, FreshTreeCodes) {
    struct Case {
        int symbol;
        const char* code;
    };
    const Case cases[] = {{56, "00000000"},  {283, "11100011"}, {0, "111001000"},
                          {55, "111111111"}, {32, "111101000"}, {0x41, "00001001"}};
    AdaptiveTree tree;
    InitTree(tree);
    for (const Case& c : cases) {
        EXPECT_EQ(PathOf(tree, c.symbol), c.code) << "symbol " << c.symbol;
        // The code alone, then zero bits: a literal comes out as itself; the
        // longest match at offset 0 copies thirty blanks of the prefill.
        std::vector<uint8_t> stored;
        uint32_t acc = 0;
        int n = 0;
        for (const char* p = c.code; *p; ++p) {
            acc = (acc << 1) | (*p == '1');
            if (++n == 8) {
                stored.push_back(static_cast<uint8_t>(acc));
                acc = n = 0;
            }
        }
        stored.push_back(static_cast<uint8_t>(acc << (8 - n)));
        Decoded d = Decode(stored, 1);
        ASSERT_FALSE(d.bytes.empty());
        EXPECT_EQ(d.bytes[0], c.symbol < 256 ? c.symbol : ' ') << "symbol " << c.symbol;
    }
}

TEST(DecodeStream, KnownStreams) {
    struct Case {
        std::vector<uint8_t> stored;
        int32_t originalSize;
        std::string expected;
    };
    const Case cases[] = {
        {{0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0xD1, 0x02, 0x80}, 18, Repeat("abcdef", 3)},
        {{0x09, 0x0A, 0xCD, 0x00, 0x80}, 10, Repeat("AB", 5)},
    };
    for (const Case& c : cases) {
        Decoded d = Decode(c.stored, c.originalSize);
        EXPECT_EQ(d.result, c.originalSize);
        EXPECT_EQ(d.bytes, Bytes(c.expected));
    }
}

TEST(DecodeStream, ZeroStreamEndsWithAWholeLastMatch) {
    // Eight zero bits are the literal 0x38; after its update, zero bits code
    // the longest match at offset 0, produced whole past the original size.
    for (size_t stored : {0u, 1u, 8u}) {
        Decoded d = Decode(std::vector<uint8_t>(stored, 0), 3);
        EXPECT_EQ(d.result, 31);
        EXPECT_EQ(d.bytes, std::vector<uint8_t>(31, 0x38));
        EXPECT_EQ(d.reads, static_cast<int>(stored));
    }
}

TEST(DecodeStream, MatchesAgainstAnIndependentModel) {
    struct Case {
        const char* name;
        void (*make)(testing_streams::TestStream&);
    };
    const Case cases[] = {
        {"length 30 at offset 0 after a literal",
         [](testing_streams::TestStream& s) {
             s.Literal('x');
             s.Match(30, 0);
         }},
        {"match into the blank prefill at the start",
         [](testing_streams::TestStream& s) {
             s.Match(5, 0);
             s.Literal('y');
             s.Match(12, 4065);
         }},
        {"offset 4095 copies the byte about to be overwritten",
         [](testing_streams::TestStream& s) {
             for (int i = 0; i < 5000; ++i) {
                 s.Literal(static_cast<uint8_t>(i * 7 + i / 256));
             }
             s.Match(30, 4095);
             s.Match(3, 4095);
         }},
        {"overlapping short period",
         [](testing_streams::TestStream& s) {
             s.Literal('a');
             s.Literal('b');
             s.Literal('c');
             s.Match(29, 2);
         }},
    };
    for (const Case& c : cases) {
        testing_streams::TestStream s;
        c.make(s);
        Decoded d = Decode(s.Bytes(), static_cast<int32_t>(s.Made()));
        EXPECT_EQ(d.bytes, s.Expected()) << c.name;
    }
}

TEST(DecodeStream, LastMatchPastTheOriginalSize) {
    testing_streams::TestStream s;
    for (char ch : std::string("hello, ")) {
        s.Literal(static_cast<uint8_t>(ch));
    }
    s.Match(20, 6);
    std::vector<uint8_t> all = s.Expected();
    for (int32_t size : {8, 15, 26}) {
        Decoded d = Decode(s.Bytes(), size);
        EXPECT_EQ(d.result, 27) << size;
        EXPECT_EQ(d.bytes, all) << size;
    }
}

// Several rebuilds, with output known from the test's own model of the format.
TEST(DecodeStream, LongRandomSymbolStream) {
    std::mt19937 rng(7);
    testing_streams::TestStream s;
    for (int i = 0; i < 120000; ++i) {
        uint32_t pick = rng() % 100;
        if (pick < 70 || s.Made() < 40) {
            // Skewed literals, so the tree takes a lopsided shape.
            s.Literal(static_cast<uint8_t>('a' + std::min<uint32_t>(rng() % 64, rng() % 64)));
        } else {
            int maxOffset = static_cast<int>(std::min<size_t>(4095, s.Made() + 4065));
            s.Match(3 + static_cast<int>(rng() % 28), static_cast<int>(rng() % (maxOffset + 1)));
        }
    }
    Decoded d = Decode(s.Bytes(), static_cast<int32_t>(s.Made()));
    EXPECT_EQ(d.bytes, s.Expected());
}

// The top table must always be that of the tree, however the tree moved:
// after every symbol it is compared with a walk of the tree's first levels.
struct TableCheckingSink {
    std::vector<uint8_t> bytes;
    int mismatches = 0;
};
void WritePtr(TableCheckingSink& out, uint8_t byte, int32_t) {
    out.bytes.push_back(byte);
    const AdaptiveTree& tree = Decoder.tree;
    const TopTable& top = Decoder.top;
    std::vector<int> levelOf(NodeCount, 0);
    for (int bits = 0; bits < (1 << TopBits); ++bits) {
        const TopEntry& entry = top.entries[bits];
        int x = tree.Child[RootNode];
        int level = 0;
        for (; level < TopBits && x < NodeCount; ++level) {
            int node = x + (bits >> (TopBits - 1 - level) & 1);
            x = tree.Child[node];
            levelOf[node] = level + 1;
            if (entry.path[level] != node || node < top.floor) {
                ++out.mismatches;
            }
        }
        if (entry.levels != level || entry.next != x) {
            ++out.mismatches;
        }
    }
    // Each node's level, and an entry that passes it there, for the climbs
    // that finish their way up from the table.
    for (int node = 0; node < NodeCount; ++node) {
        int level = top.level[node];
        if (level != levelOf[node] ||
            (level > 0 && top.entries[top.entry[node]].path[level - 1] != node)) {
            ++out.mismatches;
        }
    }
}

TEST(DecodeStream, TopTableFollowsTheTree) {
    // Favoured symbols that change every few thousand, so nodes near the
    // root trade places, and rebuilds.
    std::mt19937 rng(13);
    testing_streams::TestStream s;
    for (int i = 0; i < 80000; ++i) {
        int favoured = (i / 3000) * 41 % 200;
        if (rng() % 8 == 0 && s.Made() > 40) {
            s.Match(3 + static_cast<int>(rng() % (1 + i / 3000 % 28)),
                    static_cast<int>(rng() % 40));
        } else {
            s.Literal(static_cast<uint8_t>(rng() % 3 ? favoured + rng() % 3 : rng() % 256));
        }
    }
    std::vector<uint8_t> stored = s.Bytes();
    CountingSource in{stored.data()};
    TableCheckingSink out;
    DecodeStream(in, out, static_cast<int32_t>(s.Made()), static_cast<uint32_t>(stored.size()));
    EXPECT_EQ(out.bytes, s.Expected());
    EXPECT_EQ(out.mismatches, 0);
}

TEST(AdaptiveTree, RaisedNodeStaysBeforeEqualWeights) {
    // From a fresh tree, symbol 0's leaf reaches weight 2: it passes every
    // leaf of weight 1 and stops before node 284, which weighs 2 as well.
    AdaptiveTree tree;
    InitTree(tree);
    UpdateTree(tree, 0);
    EXPECT_EQ(tree.Parent[NodeCount + 0], 283);
    EXPECT_EQ(tree.Parent[NodeCount + 283], 0);
    EXPECT_EQ(tree.Freq[283], 2);
    EXPECT_TRUE(TreeIsSound(tree));
}

TEST(AdaptiveTree, FirstRebuildAtSymbol32485HalvesUpwards) {
    AdaptiveTree tree;
    InitTree(tree);
    std::vector<uint32_t> weight(SymbolCount, 1);
    std::mt19937 rng(3);
    for (int n = 1; n <= 32484; ++n) {
        int s =
            rng() % 3 == 0 ? static_cast<int>(rng() % SymbolCount) : static_cast<int>(rng() % 5);
        UpdateTree(tree, s);
        ++weight[s];
    }
    ASSERT_EQ(tree.Freq[RootNode], FreqLimit);
    for (int s = 0; s < SymbolCount; ++s) {
        ASSERT_EQ(tree.Freq[tree.Parent[NodeCount + s]], weight[s]) << "no rebuild yet";
    }
    UpdateTree(tree, 200); // the 32,485th symbol: rebuild, then count it
    uint32_t expectedRoot = 0;
    for (int s = 0; s < SymbolCount; ++s) {
        uint32_t halved = (weight[s] + 1) / 2 + (s == 200 ? 1 : 0);
        expectedRoot += halved;
        EXPECT_EQ(tree.Freq[tree.Parent[NodeCount + s]], halved) << "symbol " << s;
    }
    EXPECT_EQ(tree.Freq[RootNode], expectedRoot);
    EXPECT_TRUE(TreeIsSound(tree));
}

// Every update and rebuild keeps the tree sound and equal, table for table,
// to the plain decoder's tree, which shares no code with it.
TEST(AdaptiveTree, MatchesThePlainTreeThroughManyRebuilds) {
    AdaptiveTree tree;
    InitTree(tree);
    plain::Decoder other;
    other.StartHuff();
    std::mt19937 rng(11);
    for (int n = 0; n < 150000; ++n) {
        // Drifting skew: the favoured symbols change, so leaves keep moving.
        int base = (n / 20000) * 37 % SymbolCount;
        int s = rng() % 4 ? (base + static_cast<int>(rng() % 9)) % SymbolCount
                          : static_cast<int>(rng() % SymbolCount);
        UpdateTree(tree, s);
        other.Update(s);
        ASSERT_TRUE(TreeIsSound(tree)) << "after update " << n;
        ASSERT_EQ(0, std::memcmp(tree.Freq, other.freq, sizeof other.freq)) << n;
        ASSERT_EQ(0, std::memcmp(tree.Child, other.son, sizeof tree.Child)) << n;
        ASSERT_EQ(0, std::memcmp(tree.Parent, other.prnt, sizeof other.prnt)) << n;
    }
}

// The decoder fills its bit window once per symbol, trusting that no code
// reaches MaxCodeBits. Fibonacci-like counts make the deepest Huffman trees.
TEST(AdaptiveTree, CodesStayShorterThanOneWindowFill) {
    struct Case {
        const char* name;
        int (*pick)(std::mt19937&, int n);
    };
    const Case cases[] = {
        {"fibonacci counts",
         [](std::mt19937& rng, int) {
             // Symbol s is chosen about 1.618 times as often as s - 1.
             double r = std::uniform_real_distribution<double>(0, 1)(rng);
             int s = 0;
             while (s < 40 && r < 0.382) {
                 r /= 0.382;
                 ++s;
             }
             return 40 - s;
         }},
        {"halving counts", [](std::mt19937& rng, int) { return __builtin_ctz(rng() | 1u << 30); }},
        {"one symbol", [](std::mt19937&, int) { return 65; }},
        {"uniform", [](std::mt19937& rng, int) { return static_cast<int>(rng() % SymbolCount); }},
    };
    for (const Case& c : cases) {
        AdaptiveTree tree;
        InitTree(tree);
        std::mt19937 rng(1);
        int deepest = 0;
        for (int n = 0; n < 120000; ++n) {
            UpdateTree(tree, c.pick(rng, n));
            if (n % 64 == 0) {
                for (int s = 0; s < SymbolCount; ++s) {
                    deepest = std::max(deepest, static_cast<int>(PathOf(tree, s).size()));
                }
            }
        }
        EXPECT_LT(deepest, MaxCodeBits) << c.name;
        RecordProperty(c.name, deepest);
    }
}

TEST(OffsetTables, AgreeWithTheCanonicalCode) {
    std::vector<uint32_t> codes = testing_streams::UpperCodes();
    for (int v = 0; v < 256; ++v) {
        int matches = 0;
        for (int u = 0; u < 64; ++u) {
            int len = testing_streams::UpperCodeLength(u);
            if (static_cast<uint32_t>(v) >> (8 - len) == codes[u]) {
                ++matches;
                EXPECT_EQ(Offsets.UpperTable[v], u) << "value " << v;
                EXPECT_EQ(Offsets.LengthTable[v], len) << "value " << v;
            }
        }
        EXPECT_EQ(matches, 1) << "value " << v << " must start exactly one code";
    }
}

// Arbitrary bytes decode the same through the fast and the plain decoder.
TEST(DecodeStream, AgreesWithThePlainDecoderOnArbitraryBytes) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> stored(rng() % 3000);
        for (uint8_t& b : stored) {
            // Mostly low bytes so codes of long matches and far offsets show up.
            b = static_cast<uint8_t>(round % 2 ? rng() : rng() % 4 * (rng() % 64));
        }
        int32_t size = static_cast<int32_t>(rng() % 20000);
        std::memset(Decoder.Ring, 0, sizeof Decoder.Ring);
        Decoded fast = Decode(stored, size);
        plain::Decoder reference;
        std::vector<uint8_t> expected =
            reference.Decode(stored.data(), static_cast<uint32_t>(stored.size()), size);
        ASSERT_EQ(fast.bytes, expected) << "round " << round;
        ASSERT_EQ(fast.result, static_cast<int32_t>(expected.size()));
        ASSERT_LE(fast.result - size, 29);
    }
}

} // namespace
