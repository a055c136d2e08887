// The adaptive Huffman tree shared by literals and match lengths.
//
// Nodes are kept in order of weight, so a node's index is its rank: the
// leaves of rare symbols sit at low indices and the root at the top. After
// every symbol the weights along its leaf-to-root path grow by one, and a node
// that would outgrow its right-hand neighbours trades places with the last of
// them; that keeps siblings adjacent and the tree a Huffman tree for the
// counts seen so far. The decoder and the encoder run the very same updates,
// so both always hold the same code.
#pragma once

#include <stdint.h>
#include <string.h>

enum : int {
    RingSize = 4096,
    MaxMatch = 30,
    MatchThreshold = 2,
    SymbolCount = 256 - MatchThreshold + MaxMatch, // 284: literals, then lengths 3..30
    NodeCount = 2 * SymbolCount - 1,               // 567
    RootNode = NodeCount - 1,                      // 566
    FreqLimit = 0x8000,
    RingStart = RingSize - MaxMatch, // 4066: first position written, end of the blank prefill
    SpareParent = NodeCount + SymbolCount,
    ScratchNode = NodeCount + 4, // a weight no tree node owns; see AdaptiveTree::Freq
};

struct AdaptiveTree {
    // Weights in index order, non-decreasing; Freq[NodeCount] is a 0xFFFF
    // sentinel that ends the upward scan in UpdateTree, and the three after
    // it are only there so that scan may read four weights at a time.
    // Freq[ScratchNode] and the entry after it belong to no node: the decoder
    // raises and compares them in place of levels that a short code lacks.
    uint16_t Freq[ScratchNode + 2];
    // First child of an internal node (the second is at +1); for a leaf,
    // NodeCount + its symbol, so any value of NodeCount or more marks a leaf.
    int16_t Child[NodeCount];
    // Parent of each node; from NodeCount on, the leaf of symbol s is at
    // Parent[NodeCount + s]. Parent[RootNode] is 0, which ends upward walks:
    // node 0 always holds the lightest leaf, so it is nobody's parent. The
    // last entry, SpareParent, is written and never read.
    int16_t Parent[NodeCount + SymbolCount + 1];
};

// Every symbol weighs 1; internal nodes pair neighbours from the bottom up.
void InitTree(AdaptiveTree& tree);

// Halves the leaf weights (a weight of 1 stays 1) and builds the internal
// nodes afresh, each placed after every node of equal weight.
void RebuildTree(AdaptiveTree& tree);

// The last node of the run of weight `w` that starts at `first`. Weights
// never fall with the index, so the run ends at the first different weight;
// a register's worth of weights is compared at once, which matters because
// runs of equal weights are long when the symbols are about equally frequent.
inline int LastOfRun(const uint16_t* freq, int first, unsigned w) {
    typedef uintptr_t Lanes; // four weights on 64-bit hosts, two on the installer's
    const Lanes same = w * (~Lanes(0) / 0xFFFF);
    for (int j = first + 1;; j += sizeof(Lanes) / 2) {
        Lanes several;
        memcpy(&several, &freq[j], sizeof several);
        Lanes differ = several ^ same;
        if (differ != 0) {
            int bit = sizeof(Lanes) == 8 ? __builtin_ctzll(differ)
                                         : __builtin_ctz(static_cast<unsigned>(differ));
            return j - 1 + bit / 16;
        }
    }
}

// Trades the subtrees below positions x and l; the positions, and so the
// parent links of x and l themselves, stay put. l's weight k is set by the
// caller's raise.
inline void ExchangeNodes(AdaptiveTree& tree, int x, int l, unsigned k) {
    uint16_t* freq = tree.Freq;
    int16_t* child = tree.Child;
    int16_t* parent = tree.Parent;
    freq[x] = freq[l];
    freq[l] = static_cast<uint16_t>(k);
    // A leaf has no second child: its would-be sibling link goes to a spare
    // entry instead of through a branch that flat trees mispredict.
    int i = child[x];
    parent[i] = static_cast<int16_t>(l);
    parent[i < NodeCount ? i + 1 : SpareParent] = static_cast<int16_t>(l);
    int j = child[l];
    child[l] = static_cast<int16_t>(i);
    parent[j] = static_cast<int16_t>(x);
    parent[j < NodeCount ? j + 1 : SpareParent] = static_cast<int16_t>(x);
    child[x] = static_cast<int16_t>(j);
}

// Raises node x and then its ancestors by one, up to the root, and returns
// the last position that a node moved into (0 if none moved); those
// positions grow along the climb, so it is the highest. The index is
// pointer-wide so that each parent load feeds the next without a sign
// extension in between.
inline int RaiseFrom(AdaptiveTree& tree, intptr_t x) {
    uint16_t* freq = tree.Freq;
    int moved = 0;
    do {
        unsigned k = ++freq[x];
        if (k > freq[x + 1]) {
            // Move past every node now lighter than k, but stay before those
            // equal to it; the sentinel stops the scan below the top.
            int l = LastOfRun(freq, static_cast<int>(x) + 1, k - 1);
            ExchangeNodes(tree, static_cast<int>(x), l, k);
            x = moved = l;
        }
        x = tree.Parent[x];
    } while (x != 0);
    return moved;
}

// Counts one more occurrence of `symbol`. Inline because it is most of the
// cost of both decoding and encoding.
inline void UpdateTree(AdaptiveTree& tree, int symbol) {
    if (tree.Freq[RootNode] == FreqLimit) {
        RebuildTree(tree);
    }
    RaiseFrom(tree, tree.Parent[symbol + NodeCount]);
}

// Finishes the update of a symbol whose path was raised on the way down:
// path[0] .. path[depth - 1] are the nodes below the root down to the leaf,
// and bit n of `equal` tells that the node n levels above the leaf weighed
// as much as its right-hand neighbour before its raise. The deepest such node
// is the first that must move; the raises above it were premature and are
// taken back before the climb goes on from where it moved. Returns the
// highest position that a node moved into.
inline int FinishRaise(AdaptiveTree& tree, const int16_t* path, int depth, uint32_t equal) {
    uint16_t* freq = tree.Freq;
    int level = depth - 1 - __builtin_ctz(equal);
    for (int i = 0; i < level; ++i) {
        --freq[path[i]];
    }
    --freq[RootNode];
    int x = path[level];
    unsigned k = freq[x];
    int l = LastOfRun(freq, x + 1, k - 1);
    ExchangeNodes(tree, x, l, k);
    int moved = RaiseFrom(tree, tree.Parent[l]);
    return moved > l ? moved : l;
}
