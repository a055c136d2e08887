#include "decoder/decode.h"

namespace {

// Lays the runs side by side; the static_asserts below refuse runs that leave
// a gap, overlap, or give a code length that disagrees with the values a code
// covers (a code of length n is a prefix of 2^(8-n) eight-bit values).
constexpr OffsetTables BuildOffsetTables() {
    OffsetTables t{};
    for (const OffsetRun& run : OffsetRuns) {
        int v = run.firstValue;
        for (int u = run.firstUpper; u <= run.lastUpper; ++u) {
            for (int e = 0; e < run.valuesPerCode; ++e, ++v) {
                t.UpperTable[v] = static_cast<uint8_t>(u);
                t.LengthTable[v] = static_cast<uint8_t>(run.codeLength);
            }
        }
    }
    return t;
}

constexpr bool RunsTileAllValues() {
    int v = 0;
    int u = 0;
    for (const OffsetRun& run : OffsetRuns) {
        if (run.firstValue != v || run.firstUpper != u ||
            run.valuesPerCode != (256 >> run.codeLength)) {
            return false;
        }
        v += (run.lastUpper - run.firstUpper + 1) * run.valuesPerCode;
        u = run.lastUpper + 1;
    }
    return v == 256 && u == 64;
}
static_assert(RunsTileAllValues(), "offset runs must cover u 0..63 and values 0..255 exactly");

} // namespace

constexpr OffsetTables Offsets = BuildOffsetTables();

// Each value of the top bits walked as the decoder would walk it. The root's
// child link is read too, but the root never moves.
void BuildTopTable(const AdaptiveTree& tree, TopTable& top) {
    top.floor = RootNode;
    memset(top.level, 0, sizeof top.level);
    for (unsigned bits = 0; bits < (1u << TopBits); ++bits) {
        TopEntry& entry = top.entries[bits];
        int x = tree.Child[RootNode];
        int level = 0;
        while (level < TopBits && x < NodeCount) {
            int node = x + static_cast<int>(bits >> (TopBits - 1 - level) & 1);
            entry.path[level++] = static_cast<int16_t>(node);
            top.level[node] = static_cast<uint8_t>(level);
            top.entry[node] = static_cast<uint8_t>(bits);
            top.floor = node < top.floor ? node : top.floor;
            x = tree.Child[node];
        }
        entry.levels = static_cast<int16_t>(level);
        entry.next = static_cast<int16_t>(x);
        while (level < TopBits) {
            entry.path[level++] = 0;
        }
    }
}

DecoderState Decoder;
