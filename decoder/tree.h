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
};

struct AdaptiveTree {
    // Weights in index order, non-decreasing; Freq[NodeCount] is a 0xFFFF
    // sentinel that ends the upward scan in UpdateTree.
    uint16_t Freq[NodeCount + 1];
    // First child of an internal node (the second is at +1); for a leaf,
    // NodeCount + its symbol, so any value of NodeCount or more marks a leaf.
    int16_t Child[NodeCount];
    // Parent of each node; from NodeCount on, the leaf of symbol s is at
    // Parent[NodeCount + s]. Parent[RootNode] is 0, which ends upward walks:
    // node 0 always holds the lightest leaf, so it is nobody's parent.
    int16_t Parent[NodeCount + SymbolCount];
};

// Every symbol weighs 1; internal nodes pair neighbours from the bottom up.
void InitTree(AdaptiveTree& tree);

// Halves the leaf weights (a weight of 1 stays 1) and builds the internal
// nodes afresh, each placed after every node of equal weight.
void RebuildTree(AdaptiveTree& tree);

// Counts one more occurrence of `symbol`. Inline because it is most of the
// cost of both decoding and encoding.
inline void UpdateTree(AdaptiveTree& tree, int symbol) {
    uint16_t* freq = tree.Freq;
    int16_t* child = tree.Child;
    int16_t* parent = tree.Parent;
    if (freq[RootNode] == FreqLimit) {
        RebuildTree(tree);
    }
    int x = parent[symbol + NodeCount];
    do {
        unsigned k = ++freq[x];
        if (k > freq[x + 1]) {
            // Move past every node now lighter than k, but stay before those
            // equal to it; the sentinel stops the scan below the top.
            int l = x + 1;
            while (k > freq[l + 1]) {
                ++l;
            }
            freq[x] = freq[l];
            freq[l] = static_cast<uint16_t>(k);
            int i = child[x];
            parent[i] = static_cast<int16_t>(l);
            if (i < NodeCount) {
                parent[i + 1] = static_cast<int16_t>(l);
            }
            int j = child[l];
            child[l] = static_cast<int16_t>(i);
            parent[j] = static_cast<int16_t>(x);
            if (j < NodeCount) {
                parent[j + 1] = static_cast<int16_t>(x);
            }
            child[x] = static_cast<int16_t>(j);
            x = l;
        }
        x = parent[x];
    } while (x != 0);
}
