// Decoder of the compressed entry format: LZSS over a 4,096-byte ring, with
// literals and match lengths sharing one adaptive Huffman code and match
// offsets in a fixed prefix code for their upper six bits plus six plain bits.
//
// Contract of DecodeStream:
// - The stream has no header, no end mark and no check value. Decoding starts
//   with bit 7 of the first stored byte and stops once `originalSize` bytes
//   have been produced; past the stored bytes the stream reads as zero bits.
// - The result is the number of bytes handed to the sink: 0 for an original
//   size of 0 (nothing is read or written), otherwise between originalSize
//   and originalSize + 29, because a last match is produced whole. The sink
//   is expected to drop what lies past the original size.
// - Damaged input never fails: every bit sequence decodes to some bytes.
// - The tables and ring are process-wide: one decode at a time.
//
// The source and sink are any types for which these calls resolve:
//   uint8_t ReadPtr(Source&, uint32_t untaken);  // only while untaken > 0
//   void WritePtr(Sink&, uint8_t byte, int32_t originalSize);
// so the installer instantiates it once over its file streams and the
// authoring tool over memory.
#pragma once

#include "decoder/tree.h"

#include <stdint.h>
#include <string.h>

// The offset's upper six bits u have a canonical prefix code, handed out in
// increasing order of u from all zeros; short codes go to near offsets. Each
// run gives the codes of one length: the first eight-bit value they cover,
// how many eight-bit values each code covers, and the u it codes.
struct OffsetRun {
    int firstValue;
    int valuesPerCode;
    int firstUpper;
    int lastUpper;
    int codeLength;
};
constexpr OffsetRun OffsetRuns[] = {
    {0x00, 32, 0, 0, 3},  {0x20, 16, 1, 3, 4},  {0x50, 8, 4, 11, 5},
    {0x90, 4, 12, 23, 6}, {0xC0, 2, 24, 47, 7}, {0xF0, 1, 48, 63, 8},
};

// Indexed by the first eight bits of an offset code: the u whose code is a
// prefix of them, and that code's length. Built from OffsetRuns at compile
// time.
struct OffsetTables {
    uint8_t UpperTable[256];
    uint8_t LengthTable[256];
};
extern const OffsetTables Offsets;

// The first TopBits levels of the tree, looked up with that many stream
// bits at once instead of walked one level at a time: for each value of the
// bits, the nodes they pass and where the walk goes on. Nodes that near the
// root are heavy, and they seldom move; the table is made afresh whenever a
// move reaches up to them (a rebuild moves everything).
constexpr int TopBits = 4;
struct TopEntry {
    int16_t path[TopBits]; // the nodes of levels 1 to TopBits; past a leaf, 0
    int16_t next;          // the child link of the last node passed: a node or a leaf
    int16_t levels;        // levels passed: TopBits, or fewer when they end at a leaf
};
struct TopTable {
    TopEntry entries[1 << TopBits];
    // The lowest node whose child link the table holds; a move into this
    // position or higher may have changed one.
    int floor;
    // For each node the table passes, its level (1 to TopBits) and an entry
    // whose path passes it, so that a climb which reaches the table can read
    // the rest of its way there; level 0 for every other node and the root.
    uint8_t level[NodeCount];
    uint8_t entry[NodeCount];
};
void BuildTopTable(const AdaptiveTree& tree, TopTable& top);

struct DecoderState {
    AdaptiveTree tree;
    TopTable top;
    uint8_t Ring[RingSize];
};
extern DecoderState Decoder;

// The window holds the next stream bit in its top bit. It is as wide as a
// register rather than 16 bits: the bits come out the same, and a refill is
// needed only every few symbols.
typedef uintptr_t BitWindow;
constexpr int WindowBits = sizeof(BitWindow) * 8;

// No code is longer than this, so one fill before a symbol serves its whole
// walk. The tree is always a Huffman tree of its weights (siblings adjacent,
// weights in order) and its root weighs at most 0x8000 when a symbol is
// decoded; a leaf at depth d needs a root weight of at least Fibonacci(d + 2),
// and Fibonacci(24) = 46,368 is out of reach, so codes are at most 21 bits.
constexpr int MaxCodeBits = 24;
static_assert(WindowBits - 7 >= MaxCodeBits, "a filled window holds a whole code");

// The stream's bits, next bit on top of the window. Once the stored bytes
// are used up the stream goes on as zero bits, without end.
template <class Source> struct BitInput {
    Source& in;
    uint32_t untaken; // stored bytes not yet taken
    BitWindow window;
    int valid; // bits in the window, from the top

    // Tops the window up to at least WindowBits - 7 valid bits. Inline at
    // both of its calls: out of line, the window would have to live in
    // memory across the whole decode loop.
    __attribute__((always_inline)) void Fill() {
        while (valid <= WindowBits - 8) {
            BitWindow byte = 0;
            if (untaken > 0) {
                byte = ReadPtr(in, untaken);
                --untaken;
            }
            window |= byte << (WindowBits - 8 - valid);
            valid += 8;
        }
    }
    unsigned Peek(int count) const { return static_cast<unsigned>(window >> (WindowBits - count)); }
    void Skip(int count) {
        window <<= count;
        valid -= count;
    }
};

// The nodes a walk passed below the root, level 1 first, the leaf last.
struct WalkedPath {
    int16_t nodes[MaxCodeBits];
    int depth;
    // The leaf's node once more, and its weight and its right-hand
    // neighbour's, as the walk's last step loaded them: the update's first
    // question is whether the leaf moves (whether the two weigh the same),
    // and the answer is the least predictable branch of the decode. Loaded
    // at every level, beside the load of the next child link, the answer is
    // ready as soon as the walk knows it has reached the leaf, instead of
    // waiting for the path to come back from memory and then for the
    // weights.
    intptr_t leaf;
    uint32_t weights; // Freq[leaf] in the low half, Freq[leaf + 1] in the high one
};

// Walks from the root to a leaf, the first levels through the top table
// entry `topIndex` (the window's first TopBits bits) and the rest one stream
// bit per level. Returns the leaf's child link, NodeCount + its symbol. The
// window must hold MaxCodeBits valid bits, so no level needs to test it.
template <class Source>
__attribute__((always_inline)) inline intptr_t
WalkToLeaf(const DecoderState& state, BitInput<Source>& bits, unsigned topIndex, WalkedPath& path) {
    const TopEntry& top = state.top.entries[topIndex];
    memcpy(path.nodes, top.path, sizeof top.path);
    int depth = top.levels;
    bits.window <<= depth;
    // Pointer-wide indices spare a sign extension on every level of the walk,
    // whose loads form the longest chain of the whole decode.
    const int16_t* child = state.tree.Child;
    intptr_t x = top.next;
    intptr_t node = top.path[depth - 1];
    const uint16_t* freq = state.tree.Freq;
    uint32_t weights;
    memcpy(&weights, freq + node, sizeof weights); // little-endian, as LastOfRun's lanes
    while (x < NodeCount) {
        intptr_t bit = static_cast<intptr_t>(bits.window >> (WindowBits - 1));
        bits.window <<= 1;
        node = x + bit;
        path.nodes[depth++] = static_cast<int16_t>(node);
        memcpy(&weights, freq + node, sizeof weights);
        // The bit goes into the base, not the index: the compiler would fold
        // it into the node's index, and the next load would wait for the
        // addition as well as for the previous load.
        const int16_t* row = child + bit;
        __asm__("" : "+r"(row));
        x = row[x];
    }
    bits.valid -= depth;
    path.depth = depth;
    path.leaf = node;
    path.weights = weights;
    return x;
}

// Raises node y, which a move left to be climbed by the parent links, and
// its ancestors, and returns the highest position a node moved into (0 if
// none). The climb waits on a parent link at every level, so it stops where
// it reaches the top table's nodes: the table's entry holds the rest of the
// way up, and those raises need not wait for one another. After a move into
// the table's nodes the entry may be stale, and the climb goes on by the
// links. (The move that started the climb cannot have made the entry's way
// up from y stale: it exchanged what hangs below two positions lighter than
// y, and none of y's ancestors is one of them.)
inline int ClimbToTable(DecoderState& state, intptr_t y) {
    AdaptiveTree& tree = state.tree;
    uint16_t* freq = tree.Freq;
    const TopTable& top = state.top;
    int moved = 0;
    while (y < top.floor) { // the root is always at or above the floor
        unsigned k = ++freq[y];
        if (k > freq[y + 1]) {
            y = moved = MoveUp(tree, static_cast<int>(y), k);
        }
        y = tree.Parent[y];
    }
    int level = top.level[y];
    if (moved >= top.floor || (level == 0 && y != RootNode)) {
        int more = RaiseFrom(tree, y);
        return more > moved ? more : moved;
    }
    const int16_t* up = top.entries[top.entry[y]].path;
    for (int i = level - 1; i >= 0; --i) {
        int z = up[i];
        unsigned k = ++freq[z];
        if (k > freq[z + 1]) {
            int l = MoveUp(tree, z, k);
            int more = RaiseFrom(tree, tree.Parent[l]);
            return more > l ? more : l;
        }
    }
    ++freq[RootNode];
    return moved;
}

// Counts the symbol whose path the walk left: what UpdateTree does, for a
// tree whose root weighs less than FreqLimit (no rebuild due) and a path
// that is still the leaf's. It raises the nodes from the leaf up, as
// UpdateTree does, but reads them from the path instead of waiting on a
// parent link at every level. Once a node moves, the rest of the way is
// another path, climbed by ClimbToTable. (Raising the nodes on the way down
// instead saves this second pass, but every symbol that moves a node, over
// half of those of a photograph, then has to take the raises above it
// back.) A move that reaches the top table's nodes makes the table afresh.
inline void RaisePath(DecoderState& state, const WalkedPath& path) {
    AdaptiveTree& tree = state.tree;
    uint16_t* freq = tree.Freq;
    intptr_t x = path.leaf;
    unsigned k = (path.weights & 0xFFFF) + 1;
    freq[x] = static_cast<uint16_t>(k);
    bool moves = k > path.weights >> 16;
    for (int i = path.depth - 1;;) {
        if (moves) {
            int l = MoveUp(tree, static_cast<int>(x), k);
            int moved = ClimbToTable(state, tree.Parent[l]);
            if ((moved > l ? moved : l) >= state.top.floor) {
                BuildTopTable(state.tree, state.top);
            }
            return;
        }
        if (--i < 0) {
            break;
        }
        x = path.nodes[i];
        k = ++freq[x];
        moves = k > freq[x + 1];
    }
    ++freq[RootNode];
}

// Decodes one symbol and counts it. The symbol is read with the tree as it
// stands; a rebuild, when due, is the first step of its update. Forced
// inline so the window and the counts stay in registers across the decode
// loop instead of going through memory for every symbol.
template <class Source>
__attribute__((always_inline)) inline int DecodeSymbol(DecoderState& state,
                                                       BitInput<Source>& bits) {
    // The fill adds bits only below the valid ones, so the table's bits can
    // be read before it, and the walk's first load need not wait for it.
    unsigned topIndex = bits.Peek(TopBits);
    if (bits.valid < MaxCodeBits) {
        bool fewerThanTop = bits.valid < TopBits;
        bits.Fill();
        if (fewerThanTop) {
            topIndex = bits.Peek(TopBits);
        }
    }
    WalkedPath path;
    int symbol = static_cast<int>(WalkToLeaf(state, bits, topIndex, path)) - NodeCount;
    if (state.tree.Freq[RootNode] == FreqLimit) {
        UpdateTree(state.tree, symbol); // rebuilds first: the path is gone
        BuildTopTable(state.tree, state.top);
    } else {
        RaisePath(state, path);
    }
    return symbol;
}

// Eight bits pick the upper six bits of the offset and the length of their
// code; the code is followed by the six low bits, so it is LengthTable + 6
// bits long in all, and the offset is the upper part times 64 plus the last
// six bits.
template <class Source>
__attribute__((always_inline)) inline unsigned DecodeOffset(BitInput<Source>& bits) {
    if (bits.valid < 14) {
        bits.Fill();
    }
    unsigned first8 = bits.Peek(8);
    int codeBits = Offsets.LengthTable[first8] + 6;
    unsigned low6 = bits.Peek(codeBits) & 63;
    bits.Skip(codeBits);
    return Offsets.UpperTable[first8] * 64u + low6;
}

template <class Source, class Sink>
int32_t DecodeStream(Source& in, Sink& out, int32_t originalSize, uint32_t storedSize) {
    BitInput<Source> bits{in, storedSize, 0, 0};
    if (originalSize == 0) {
        return 0;
    }
    AdaptiveTree& tree = Decoder.tree;
    uint8_t* ring = Decoder.Ring;
    InitTree(tree);
    BuildTopTable(tree, Decoder.top);
    // The blanks serve as history, so an entry may open with a match.
    memset(ring, ' ', RingStart);
    unsigned r = RingStart;
    int32_t count = 0;

    while (count < originalSize) {
        int symbol = DecodeSymbol(Decoder, bits);
        if (symbol < 256) {
            WritePtr(out, static_cast<uint8_t>(symbol), originalSize);
            ring[r] = static_cast<uint8_t>(symbol);
            r = (r + 1) & (RingSize - 1);
            ++count;
            continue;
        }
        // Offset p means p + 1 bytes back. The source is read afresh for each
        // byte so a match may overlap what it writes (offset 0 repeats the
        // last byte), and the whole match is produced even past the end: the
        // count is compared only after it, and the sink drops the excess.
        unsigned from = (r - DecodeOffset(bits) - 1) & (RingSize - 1);
        int length = symbol - 253;
        for (int k = 0; k < length; ++k) {
            uint8_t b = ring[(from + k) & (RingSize - 1)];
            WritePtr(out, b, originalSize);
            ring[r] = b;
            r = (r + 1) & (RingSize - 1);
        }
        count += length;
    }
    return count;
}
