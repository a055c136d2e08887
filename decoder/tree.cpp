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

// The internal nodes come out in order of weight, because each pairs the
// lowest two nodes not yet paired. So the rebuilt table is a merge of two
// sorted runs: the halved leaves, and the internal nodes as they are made.
// A node goes after every node of equal weight that exists when it is made:
// after all leaves of its weight, and after the internal nodes made before
// it, which is what taking a leaf first on equal weights gives. Node m pairs
// positions 2m and 2m + 1, which the merge has always filled by the time it
// could place node m.
void RebuildTree(AdaptiveTree& tree) {
    uint16_t* freq = tree.Freq;
    int16_t* child = tree.Child;
    uint16_t leafFreq[SymbolCount];
    int16_t leafChild[SymbolCount];
    int leaves = 0;
    for (int i = 0; i < NodeCount; ++i) {
        if (child[i] >= NodeCount) {
            leafFreq[leaves] = static_cast<uint16_t>((freq[i] + 1u) / 2);
            leafChild[leaves++] = child[i];
        }
    }
    int leaf = 0;
    int pair = 0; // the next internal node pairs positions 2 * pair and 2 * pair + 1
    for (int j = 0; j < NodeCount; ++j) {
        bool pairReady = pair < SymbolCount - 1 && 2 * pair + 1 < j;
        unsigned f = pairReady ? freq[2 * pair] + freq[2 * pair + 1] : 0;
        if (leaf < SymbolCount && (!pairReady || leafFreq[leaf] <= f)) {
            freq[j] = leafFreq[leaf];
            child[j] = leafChild[leaf++];
        } else {
            freq[j] = static_cast<uint16_t>(f);
            child[j] = static_cast<int16_t>(2 * pair++);
        }
    }
    for (int i = 0; i < NodeCount; ++i) {
        int k = child[i];
        tree.Parent[k] = static_cast<int16_t>(i);
        if (k < NodeCount) {
            tree.Parent[k + 1] = static_cast<int16_t>(i);
        }
    }
}
