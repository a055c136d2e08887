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
};

struct AdaptiveTree {
    // Weights in index order, non-decreasing; Freq[NodeCount] is a 0xFFFF
    // sentinel that ends the upward scan in UpdateTree, and the entries after
    // it are only there so that scan may read four weights at a time.
    uint16_t Freq[NodeCount + 4];
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

// Node x has just been raised to weight k, past its right-hand neighbour:
// moves it past every node now lighter than k, but not past those equal to
// it (the sentinel stops the scan below the top), and returns the position
// it moved into.
inline int MoveUp(AdaptiveTree& tree, int x, unsigned k) {
    int l = LastOfRun(tree.Freq, x + 1, k - 1);
    ExchangeNodes(tree, x, l, k);
    return l;
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
            x = moved = MoveUp(tree, static_cast<int>(x), k);
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
