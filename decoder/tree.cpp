#include "decoder/tree.h"

void InitTree(AdaptiveTree& tree) {
    for (int s = 0; s < SymbolCount; ++s) {
        tree.Freq[s] = 1;
        tree.Child[s] = static_cast<int16_t>(s + NodeCount);
        tree.Parent[s + NodeCount] = static_cast<int16_t>(s);
    }
    int i = 0;
    for (int j = SymbolCount; j < NodeCount; ++j, i += 2) {
        tree.Freq[j] = static_cast<uint16_t>(tree.Freq[i] + tree.Freq[i + 1]);
        tree.Child[j] = static_cast<int16_t>(i);
        tree.Parent[i] = tree.Parent[i + 1] = static_cast<int16_t>(j);
    }
    for (int i = NodeCount; i < NodeCount + 4; ++i) {
        tree.Freq[i] = 0xFFFF;
    }
    tree.Parent[RootNode] = 0;
}

void RebuildTree(AdaptiveTree& tree) {
    uint16_t* freq = tree.Freq;
    int16_t* child = tree.Child;
    // Leaves first, in their present order, with weights halved upwards.
    int j = 0;
    for (int i = 0; i < NodeCount; ++i) {
        if (child[i] >= NodeCount) {
            freq[j] = static_cast<uint16_t>((freq[i] + 1u) / 2);
            child[j] = child[i];
            ++j;
        }
    }
    // Pair the lowest two unpaired nodes; the new node goes after all nodes
    // of equal weight, which are all below the insertion point's pair.
    int i = 0;
    for (j = SymbolCount; j < NodeCount; ++j, i += 2) {
        unsigned f = freq[i] + freq[i + 1];
        int k = j - 1;
        while (f < freq[k]) {
            --k;
        }
        ++k;
        memmove(&freq[k + 1], &freq[k], (j - k) * sizeof freq[0]);
        memmove(&child[k + 1], &child[k], (j - k) * sizeof child[0]);
        freq[k] = static_cast<uint16_t>(f);
        child[k] = static_cast<int16_t>(i);
    }
    for (i = 0; i < NodeCount; ++i) {
        int k = child[i];
        tree.Parent[k] = static_cast<int16_t>(i);
        if (k < NodeCount) {
            tree.Parent[k + 1] = static_cast<int16_t>(i);
        }
    }
}
