// The encoder keeps the decoder's adaptive tree in step with it, symbol by
// symbol, and differs from it only in how it chooses the symbols: the parse.
//
// The input is seen behind RingStart blanks, the decoder's prefill, so a
// position i of the work buffer is ring position i mod 4096 and a match may
// reach back into the blanks. Nothing before position 0 exists, which is what
// keeps matches off ring positions 4066..4095 before they are written.
// Matches never run past the end of the input, though the decoder would
// produce such a last match whole and drop the excess: it could save at most
// the literals of the last two bytes.

#include "decoder/codec.h"
#include "decoder/decode.h"
#include "decoder/tree.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int MinMatch = MatchThreshold + 1;
constexpr int MaxDistance = RingSize; // offset 4095

struct Match {
    int length;
    int distance; // 1..4096; the offset sent is distance - 1
};

class BitWriter {
  public:
    // Appends the low `count` bits of `code`, most significant first.
    void Put(uint32_t code, int count) {
        acc_ = (acc_ << count) | code;
        pending_ += count;
        while (pending_ >= 8) {
            pending_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(acc_ >> pending_));
        }
    }

    // The decoder would read zero bits past the stored bytes, so trailing
    // zero bytes could be left out; they are kept, so that a checker can tell
    // a stream cut short from a whole one: a whole stream needs no bit past
    // its stored bytes.
    std::vector<uint8_t> Finish() {
        if (pending_ > 0) {
            bytes_.push_back(static_cast<uint8_t>(acc_ << (8 - pending_)));
            pending_ = 0;
        }
        return std::move(bytes_);
    }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    int pending_ = 0;
};

struct OffsetCode {
    uint32_t code[64];
    int length[64];
    OffsetCode() {
        for (const OffsetRun& run : OffsetRuns) {
            for (int u = run.firstUpper; u <= run.lastUpper; ++u) {
                int value = run.firstValue + (u - run.firstUpper) * run.valuesPerCode;
                code[u] = static_cast<uint32_t>(value) >> (8 - run.codeLength);
                length[u] = run.codeLength;
            }
        }
    }
};
const OffsetCode Offset;

// Bits of an offset code: fixed, shorter for nearer matches.
int OffsetBits(int distance) {
    return Offset.length[(distance - 1) >> 6] + 6;
}

// Writes symbols under the same adaptive tree the decoder keeps.
class SymbolWriter {
  public:
    explicit SymbolWriter(BitWriter& out) : out_(out) { InitTree(tree_); }

    // The code of a symbol is its path from the root; it is found by walking
    // up from the leaf, so the bits arrive last first.
    void Symbol(int symbol) {
        uint32_t code = 0;
        int count = 0;
        for (int x = tree_.Parent[symbol + NodeCount]; x != RootNode; ++count) {
            int up = tree_.Parent[x];
            code |= static_cast<uint32_t>(x - tree_.Child[up]) << count;
            x = up;
        }
        out_.Put(code, count);
        UpdateTree(tree_, symbol);
    }

    void Literal(uint8_t byte) { Symbol(byte); }

    void Copy(const Match& m) {
        Symbol(256 - MinMatch + m.length);
        int offset = m.distance - 1;
        int upper = offset >> 6;
        out_.Put(Offset.code[upper], Offset.length[upper]);
        out_.Put(static_cast<uint32_t>(offset & 63), 6);
    }

    // Code length of every symbol now: the price of choosing it next.
    void Prices(int* bits) const {
        for (int s = 0; s < SymbolCount; ++s) {
            int depth = 0;
            for (int x = tree_.Parent[s + NodeCount]; x != RootNode; x = tree_.Parent[x]) {
                ++depth;
            }
            bits[s] = depth;
        }
    }

  private:
    BitWriter& out_;
    AdaptiveTree tree_;
};

// Hash chains over the work buffer. Positions are inserted in order, and a
// search at a position sees only those before it.
class MatchFinder {
  public:
    MatchFinder(const std::vector<uint8_t>& buf, int maxChain)
        : buf_(buf), head_(1 << HashBits, -1), prev_(buf.size(), -1), maxChain_(maxChain) {}

    void InsertUpTo(size_t end) {
        for (; inserted_ < end; ++inserted_) {
            if (inserted_ + MinMatch > buf_.size()) {
                continue;
            }
            uint32_t h = Hash(&buf_[inserted_]);
            prev_[inserted_] = head_[h];
            head_[h] = static_cast<int32_t>(inserted_);
        }
    }

    // Fills `out` with ever longer matches at `pos`, each at the nearest
    // distance found for its length, and returns how many. The nearest
    // distance matters: its offset code is the shortest.
    int Find(size_t pos, Match* out) {
        InsertUpTo(pos);
        int maxLen = static_cast<int>(std::min<size_t>(MaxMatch, buf_.size() - pos));
        if (maxLen < MinMatch) {
            return 0;
        }
        const uint8_t* here = &buf_[pos];
        int best = MinMatch - 1;
        int found = 0;
        int32_t cand = head_[Hash(here)];
        for (int chain = maxChain_; cand >= 0 && chain > 0; --chain, cand = prev_[cand]) {
            size_t distance = pos - static_cast<size_t>(cand);
            if (distance > static_cast<size_t>(MaxDistance)) {
                break;
            }
            const uint8_t* there = &buf_[cand];
            if (there[best] != here[best]) {
                continue;
            }
            int len = 0;
            while (len < maxLen && there[len] == here[len]) {
                ++len;
            }
            if (len > best) {
                best = len;
                out[found++] = Match{len, static_cast<int>(distance)};
                if (len == maxLen) {
                    break;
                }
            }
        }
        return found;
    }

  private:
    static constexpr int HashBits = 16;
    static uint32_t Hash(const uint8_t* p) {
        uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
        return (v * 2654435761u) >> (32 - HashBits);
    }

    const std::vector<uint8_t>& buf_;
    std::vector<int32_t> head_;
    std::vector<int32_t> prev_;
    size_t inserted_ = 0;
    int maxChain_;
};

struct Work {
    std::vector<uint8_t> buf; // the blanks, then the input
    BitWriter bits;
    SymbolWriter symbols{bits};
    const EncodeProgress* progress = nullptr;
    size_t nextReport = 0; // work-buffer position of the next report

    // Called by the parses as they go; cheap enough for every symbol.
    void Reached(size_t pos) {
        if (pos >= nextReport && progress && *progress) {
            (*progress)(pos - RingStart);
            nextReport = pos + ReportInterval;
        }
    }
    static constexpr size_t ReportInterval = 64 * 1024;
};

void ParseGreedy(Work& w, int maxChain) {
    MatchFinder finder(w.buf, maxChain);
    Match found[MaxMatch];
    for (size_t pos = RingStart; pos < w.buf.size();) {
        w.Reached(pos);
        int n = finder.Find(pos, found);
        if (n == 0) {
            w.symbols.Literal(w.buf[pos++]);
            continue;
        }
        w.symbols.Copy(found[n - 1]);
        pos += found[n - 1].length;
    }
}

// One-step lazy: a match is put off for a literal when the match starting
// one byte later is longer.
void ParseLazy(Work& w, int maxChain) {
    MatchFinder finder(w.buf, maxChain);
    Match found[MaxMatch];
    size_t pos = RingStart;
    int n = pos < w.buf.size() ? finder.Find(pos, found) : 0;
    while (pos < w.buf.size()) {
        w.Reached(pos);
        if (n == 0) {
            w.symbols.Literal(w.buf[pos++]);
            n = pos < w.buf.size() ? finder.Find(pos, found) : 0;
            continue;
        }
        Match here = found[n - 1];
        int next = pos + 1 < w.buf.size() ? finder.Find(pos + 1, found) : 0;
        if (next > 0 && found[next - 1].length > here.length) {
            w.symbols.Literal(w.buf[pos++]);
            n = next;
            continue;
        }
        w.symbols.Copy(here);
        pos += here.length;
        n = pos < w.buf.size() ? finder.Find(pos, found) : 0;
    }
}

// Parses a block at a time by shortest path: every literal and every match
// length at each position is priced in bits under the tree as it stands at
// the block's start, and the cheapest way through the block is sent. Blocks
// are short, so the prices follow the adaptive code closely.
void ParseOptimal(Work& w, int maxChain, size_t blockSize) {
    MatchFinder finder(w.buf, maxChain);
    constexpr uint32_t Unreached = std::numeric_limits<uint32_t>::max();
    std::vector<uint32_t> cost(blockSize + 1);
    std::vector<Match> step(blockSize + 1);
    std::vector<Match> path;
    int price[SymbolCount];
    Match found[MaxMatch];

    for (size_t start = RingStart; start < w.buf.size();) {
        w.Reached(start);
        size_t end = std::min(w.buf.size(), start + blockSize);
        size_t n = end - start;
        w.symbols.Prices(price);
        std::fill(cost.begin(), cost.begin() + n + 1, Unreached);
        cost[0] = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t here = cost[i];
            uint32_t lit = here + price[w.buf[start + i]];
            if (lit < cost[i + 1]) {
                cost[i + 1] = lit;
                step[i + 1] = Match{1, 0};
            }
            int count = finder.Find(start + i, found);
            int shorter = MinMatch - 1;
            for (int m = 0; m < count; ++m) {
                int longest = std::min<int>(found[m].length, static_cast<int>(n - i));
                uint32_t offsetBits = OffsetBits(found[m].distance);
                for (int len = shorter + 1; len <= longest; ++len) {
                    uint32_t c = here + offsetBits + price[256 - MinMatch + len];
                    if (c < cost[i + len]) {
                        cost[i + len] = c;
                        step[i + len] = Match{len, found[m].distance};
                    }
                }
                shorter = std::max(shorter, longest);
            }
        }
        path.clear();
        for (size_t i = n; i > 0; i -= static_cast<size_t>(step[i].length)) {
            path.push_back(step[i]);
        }
        size_t pos = start;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (it->distance == 0) {
                w.symbols.Literal(w.buf[pos]);
            } else {
                w.symbols.Copy(*it);
            }
            pos += static_cast<size_t>(it->length);
        }
        start = end;
    }
}

} // namespace

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, Level level,
                                  const EncodeProgress& progress) {
    if (size == 0) {
        return {};
    }
    Work w;
    w.progress = &progress;
    w.nextReport = RingStart;
    w.buf.assign(RingStart, ' ');
    w.buf.insert(w.buf.end(), data, data + size);
    switch (level) {
    case Level::Fast:
        ParseGreedy(w, 8);
        break;
    case Level::Greedy:
        ParseGreedy(w, 4096);
        break;
    case Level::Lazy:
        ParseLazy(w, 4096);
        break;
    case Level::Best:
        ParseOptimal(w, 4096, 4096);
        break;
    }
    if (progress) {
        progress(size);
    }
    return w.bits.Finish();
}
