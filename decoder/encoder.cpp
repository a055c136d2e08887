// The encoder keeps the decoder's adaptive tree in step with it, symbol by
// symbol, and differs from it only in how it chooses the symbols: the parse.
//
// The input is seen behind RingStart blanks, the decoder's prefill, so a
// position i of the text is ring position i mod 4096 and a match may reach
// back into the blanks. Nothing before position 0 exists, which is what keeps
// matches off ring positions 4066..4095 before they are written.
// Matches never run past the end of the input, though the decoder would
// produce such a last match whole and drop the excess: it could save at most
// the literals of the last two bytes.
//
// Nothing the parse holds grows with the input: no match reaches back more
// than the window, so the match finders keep their links for the last two
// windows only, the best level prices a chunk at a time, and the input is read
// where it lies: a browser tab, whose memory is tight, can then pack files of
// hundreds of megabytes.

#include "decoder/codec.h"
#include "decoder/decode.h"
#include "decoder/tree.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace {

constexpr int MinMatch = MatchThreshold + 1;
constexpr int MaxDistance = RingSize; // offset 4095

// The input as the parse reads it: behind the blanks. A position below
// RingStart reads from a copy of the blanks and the input's first MaxMatch
// bytes, so that a match there compares on into the input in one run of
// memory; every other position reads the input in place.
class Text {
  public:
    Text(const uint8_t* data, size_t size) : data_(data), end_(RingStart + size) {
        std::fill(head_, head_ + RingStart, ' ');
        std::copy(data, data + std::min<size_t>(size, MaxMatch), head_ + RingStart);
    }

    // The bytes from position p on; up to MaxMatch of them, or as many as
    // remain, may be read through it.
    const uint8_t* At(size_t p) const {
        return p < RingStart ? head_ + p : data_ + (p - RingStart);
    }
    uint8_t operator[](size_t p) const { return *At(p); }
    size_t End() const { return end_; } // the position after the input's last byte

  private:
    const uint8_t* data_;
    size_t end_;
    uint8_t head_[RingStart + MaxMatch];
};

// Half the size of a pair of ints: the best level holds one for every match
// it finds in a chunk, and one for every step of each parse.
struct Match {
    int16_t length;
    int16_t distance; // 1..4096; the offset sent is distance - 1

    Match() = default;
    Match(int l, int d) : length(static_cast<int16_t>(l)), distance(static_cast<int16_t>(d)) {}
};

// Thrown when a stream reaches its limit: the parse stops there.
struct StreamLimitReached {};

class BitWriter {
  public:
    // The room for a stream as large as its input is taken at once: growing
    // would copy what is written so far, and for a moment hold it twice.
    // Untouched room costs no memory where the system maps pages on first
    // use. Past `limit` bytes, the parse is given up.
    BitWriter(size_t expected, size_t limit) : limit_(limit) { bytes_.reserve(expected); }

    // Appends the low `count` bits of `code`, most significant first.
    void Put(uint32_t code, int count) {
        acc_ = (acc_ << count) | code;
        pending_ += count;
        while (pending_ >= 8) {
            pending_ -= 8;
            Append(static_cast<uint8_t>(acc_ >> pending_));
        }
    }

    // The decoder would read zero bits past the stored bytes, so trailing
    // zero bytes could be left out; they are kept, so that a checker can tell
    // a stream cut short from a whole one: a whole stream needs no bit past
    // its stored bytes.
    std::vector<uint8_t> Finish() {
        if (pending_ > 0) {
            Append(static_cast<uint8_t>(acc_ << (8 - pending_)));
            pending_ = 0;
        }
        return std::move(bytes_);
    }

  private:
    void Append(uint8_t byte) {
        if (bytes_.size() == limit_) {
            throw StreamLimitReached();
        }
        bytes_.push_back(byte);
    }

    std::vector<uint8_t> bytes_;
    size_t limit_;
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

    // The tree as the decoder will hold it before the next symbol.
    const AdaptiveTree& Tree() const { return tree_; }

  private:
    BitWriter& out_;
    AdaptiveTree tree_;
};

// The hash heads take a quarter megabyte whatever the input's size. One
// parse uses one finder at a time, so a thread keeps one table and each
// finder starts it afresh: encoding many small inputs one after another then
// maps no new memory for each.
static std::vector<int32_t>& FreshHashHeads(size_t count) {
    thread_local std::vector<int32_t> heads;
    heads.assign(count, -1);
    return heads;
}

// What both match finders are built on: the text, the most recent
// position of each hash of three bytes, and a slot per position for its
// links. A link is followed only while it stays within the window, so each
// position's slot is taken over by the position two windows on.
class HashedText {
  protected:
    explicit HashedText(const Text& text)
        : text_(text), head_(FreshHashHeads(size_t(1) << HashBits)) {}

    static constexpr int HashBits = 16;
    static constexpr size_t Slots = 2 * RingSize;
    static size_t Slot(size_t pos) { return pos & (Slots - 1); }
    static uint32_t Hash(const uint8_t* p) {
        uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
        return (v * 2654435761u) >> (32 - HashBits);
    }
    // The longest match the text allows at `pos`; below MinMatch, none.
    int LongestAt(size_t pos) const {
        return static_cast<int>(std::min<size_t>(MaxMatch, text_.End() - pos));
    }

    const Text& text_;
    std::vector<int32_t>& head_;
};

// Hash chains over the text. Positions are inserted in order, and a search
// at a position sees only those before it.
class MatchFinder : HashedText {
  public:
    MatchFinder(const Text& text, int maxChain)
        : HashedText(text), prev_(Slots, -1), maxChain_(maxChain) {}

    void InsertUpTo(size_t end) {
        for (; inserted_ < end; ++inserted_) {
            if (inserted_ + MinMatch > text_.End()) {
                continue;
            }
            uint32_t h = Hash(text_.At(inserted_));
            prev_[Slot(inserted_)] = head_[h];
            head_[h] = static_cast<int32_t>(inserted_);
        }
    }

    // Fills `out` with ever longer matches at `pos`, each at the nearest
    // distance found for its length, and returns how many. The nearest
    // distance matters: its offset code is the shortest.
    int Find(size_t pos, Match* out) {
        InsertUpTo(pos);
        int maxLen = LongestAt(pos);
        if (maxLen < MinMatch) {
            return 0;
        }
        const uint8_t* here = text_.At(pos);
        int best = MinMatch - 1;
        int found = 0;
        int32_t cand = head_[Hash(here)];
        for (int chain = maxChain_; cand >= 0 && chain > 0;
             --chain, cand = prev_[Slot(static_cast<size_t>(cand))]) {
            size_t distance = pos - static_cast<size_t>(cand);
            if (distance > static_cast<size_t>(MaxDistance)) {
                break;
            }
            const uint8_t* there = text_.At(static_cast<size_t>(cand));
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
    std::vector<int32_t> prev_;
    size_t inserted_ = 0;
    int maxChain_;
};

// Binary trees of the window's strings, one per hash of their first three
// bytes. Each position goes in as the root of its tree, so every node is
// nearer than the nodes below it, and the nodes are in the order of the
// strings that start there. The walk down from the root, which splits the
// tree around the new string, therefore meets for each match length the
// nearest position that gives it: one pass finds the matches and inserts the
// position, in steps that grow with the log of the window rather than with
// the number of positions sharing a hash, which a parse that searches at
// every position cannot afford on repetitive input. A node whose first
// MaxMatch bytes equal the new string's is dropped: farther and no better.
class TreeFinder : HashedText {
  public:
    // The blanks before RingStart go in as history.
    explicit TreeFinder(const Text& text) : HashedText(text), child_(2 * Slots, -1) {
        Match ignored[MaxMatch];
        for (size_t pos = 0; pos < RingStart && pos < text.End(); ++pos) {
            Find(pos, ignored);
        }
    }

    // As MatchFinder::Find, and called at every position in turn.
    int Find(size_t pos, Match* out) {
        int maxLen = LongestAt(pos);
        if (maxLen < MinMatch) {
            return 0;
        }
        const uint8_t* here = text_.At(pos);
        uint32_t h = Hash(here);
        int32_t cand = head_[h];
        head_[h] = static_cast<int32_t>(pos);
        // Where the next node below and above the new string go, and how
        // many leading bytes the new string shares with each of those bounds:
        // every node between them shares at least the smaller count.
        int32_t* below = &child_[2 * Slot(pos)];
        int32_t* above = below + 1;
        int belowLen = 0;
        int aboveLen = 0;
        int best = MinMatch - 1;
        int found = 0;
        while (cand >= 0 && pos - static_cast<size_t>(cand) <= static_cast<size_t>(MaxDistance)) {
            const uint8_t* there = text_.At(static_cast<size_t>(cand));
            int32_t* links = &child_[2 * Slot(static_cast<size_t>(cand))];
            int len = std::min(belowLen, aboveLen);
            while (len < maxLen && there[len] == here[len]) {
                ++len;
            }
            if (len > best) {
                best = len;
                out[found++] = Match{len, static_cast<int>(pos - static_cast<size_t>(cand))};
            }
            if (len == maxLen) {
                *below = links[0];
                *above = links[1];
                return found;
            }
            if (there[len] < here[len]) {
                *below = cand;
                below = &links[1];
                belowLen = len;
                cand = *below;
            } else {
                *above = cand;
                above = &links[0];
                aboveLen = len;
                cand = *above;
            }
        }
        // The rest lies beyond the window: cut it off.
        *below = -1;
        *above = -1;
        return found;
    }

  private:
    std::vector<int32_t> child_; // below, above of each position's slot
};

struct Work {
    Work(const uint8_t* data, size_t size, size_t limit)
        : text(data, size), bits(std::min(size, limit), limit) {}

    Text text;
    BitWriter bits;
    SymbolWriter symbols{bits};
    const EncodeProgress* progress = nullptr;
    size_t nextReport = 0; // text position of the next report

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
    MatchFinder finder(w.text, maxChain);
    Match found[MaxMatch];
    for (size_t pos = RingStart; pos < w.text.End();) {
        w.Reached(pos);
        int n = finder.Find(pos, found);
        if (n == 0) {
            w.symbols.Literal(w.text[pos++]);
            continue;
        }
        w.symbols.Copy(found[n - 1]);
        pos += found[n - 1].length;
    }
}

// One-step lazy: a match is put off for a literal when the match starting
// one byte later is longer.
void ParseLazy(Work& w, int maxChain) {
    MatchFinder finder(w.text, maxChain);
    Match found[MaxMatch];
    size_t pos = RingStart;
    int n = pos < w.text.End() ? finder.Find(pos, found) : 0;
    while (pos < w.text.End()) {
        w.Reached(pos);
        if (n == 0) {
            w.symbols.Literal(w.text[pos++]);
            n = pos < w.text.End() ? finder.Find(pos, found) : 0;
            continue;
        }
        Match here = found[n - 1];
        int next = pos + 1 < w.text.End() ? finder.Find(pos + 1, found) : 0;
        if (next > 0 && found[next - 1].length > here.length) {
            w.symbols.Literal(w.text[pos++]);
            n = next;
            continue;
        }
        w.symbols.Copy(here);
        pos += here.length;
        n = pos < w.text.End() ? finder.Find(pos, found) : 0;
    }
}

// Prices of the symbols, in sixteenths of a bit, so that the fractional
// prices of the later passes keep their differences.
constexpr uint32_t Scale = 16; // Log2InSixteenths counts in the same unit
using PriceTable = std::array<uint32_t, SymbolCount>;

int CodeLength(const AdaptiveTree& tree, int symbol) {
    int depth = 0;
    for (int x = tree.Parent[symbol + NodeCount]; x != RootNode; x = tree.Parent[x]) {
        ++depth;
    }
    return depth;
}

// What each symbol would cost next: its code length now.
PriceTable CodeLengthPrices(const AdaptiveTree& tree) {
    PriceTable price;
    for (int s = 0; s < SymbolCount; ++s) {
        price[s] = CodeLength(tree, s) * Scale;
    }
    return price;
}

// log2(x) in sixteenths, rounded down, for x from 1 to 65535, in integers:
// floating point could round differently on another machine (the x87 keeps
// more bits than SSE), and the same input must give the same stream on
// every build of the authoring tool. Each squaring of the mantissa, kept in
// [1, 2) as a fixed-point number, yields one more bit of the fraction.
uint32_t Log2InSixteenths(uint32_t x) {
    int whole = 31 - __builtin_clz(x);
    uint32_t mantissa = whole <= 15 ? x << (15 - whole) : x >> (whole - 15); // 1.15 bits
    uint32_t result = static_cast<uint32_t>(whole);
    for (int bit = 0; bit < 4; ++bit) {
        mantissa = mantissa * mantissa >> 15;
        result <<= 1;
        if (mantissa >= 1u << 16) {
            mantissa >>= 1;
            result |= 1;
        }
    }
    return result;
}

// What each symbol costs on average over a stretch whose counts end as the
// tree's weights: the adaptive code's total for a stretch depends, near
// enough, only on the counts it ends with, so one more use of a symbol costs
// about the log of the root's weight over the symbol's, taken at the end.
PriceTable WeightPrices(const AdaptiveTree& tree) {
    PriceTable price;
    uint32_t root = Log2InSixteenths(tree.Freq[RootNode]);
    for (int s = 0; s < SymbolCount; ++s) {
        price[s] = root - Log2InSixteenths(tree.Freq[tree.Parent[s + NodeCount]]);
    }
    return price;
}

// Prices that change along a chunk: table k holds from position from[k] up
// to from[k + 1].
struct PriceSchedule {
    std::vector<size_t> from;
    std::vector<PriceTable> table;
};

// Every match worth considering at each position of a chunk: for each
// length, the nearest distance that gives it. Found once, priced by every
// pass.
struct ChunkMatches {
    std::vector<Match> list;
    std::vector<uint32_t> first; // position i's matches are list[first[i] .. first[i + 1])

    void Collect(TreeFinder& finder, size_t start, size_t n) {
        list.clear();
        first.resize(n + 1);
        Match found[MaxMatch];
        for (size_t i = 0; i < n; ++i) {
            first[i] = static_cast<uint32_t>(list.size());
            int count = finder.Find(start + i, found);
            list.insert(list.end(), found, found + count);
        }
        first[n] = static_cast<uint32_t>(list.size());
    }
};

// The cheapest way through positions [from, from + n) of a chunk under the
// prices, as steps: a literal is a step of length 1 and distance 0. Every
// length of every match is tried at the nearest distance that gives it,
// since a nearer offset has the shorter code.
class ShortestPath {
  public:
    void Find(const uint8_t* text, const ChunkMatches& matches, size_t from, size_t n,
              const PriceSchedule& prices, std::vector<Match>& steps) {
        cost_.assign(n + 1, std::numeric_limits<uint32_t>::max());
        step_.resize(n + 1);
        cost_[0] = 0;
        size_t k = 0;
        for (size_t i = 0; i < n; ++i) {
            while (k + 1 < prices.from.size() && prices.from[k + 1] <= from + i) {
                ++k;
            }
            const PriceTable& price = prices.table[k];
            uint32_t here = cost_[i];
            Relax(i + 1, here + price[text[from + i]], Match{1, 0});
            int shorter = MinMatch - 1;
            for (uint32_t m = matches.first[from + i]; m < matches.first[from + i + 1]; ++m) {
                const Match& found = matches.list[m];
                int longest = std::min<int>(found.length, static_cast<int>(n - i));
                uint32_t offsetPrice = OffsetBits(found.distance) * Scale;
                for (int len = shorter + 1; len <= longest; ++len) {
                    Relax(i + len, here + offsetPrice + price[256 - MinMatch + len],
                          Match{len, found.distance});
                }
                shorter = std::max(shorter, longest);
            }
        }
        steps.clear();
        for (size_t i = n; i > 0; i -= static_cast<size_t>(step_[i].length)) {
            steps.push_back(step_[i]);
        }
        std::reverse(steps.begin(), steps.end());
    }

  private:
    void Relax(size_t to, uint32_t cost, Match step) {
        if (cost < cost_[to]) {
            cost_[to] = cost;
            step_[to] = step;
        }
    }

    std::vector<uint32_t> cost_;
    std::vector<Match> step_;
};

// Follows a parse of a chunk on a copy of the tree: adds up its exact size
// in bits, and notes the prices for a further pass, one table per stretch
// between rebuilds, each from the weights at the stretch's end.
struct Trial {
    explicit Trial(const AdaptiveTree& start) : tree(start) {}

    void Run(const uint8_t* text, size_t at, const std::vector<Match>& steps) {
        for (const Match& m : steps) {
            int symbol = m.distance == 0 ? text[at] : 256 - MinMatch + m.length;
            if (tree.Freq[RootNode] == FreqLimit) {
                EndStretch(at);
            }
            bits += CodeLength(tree, symbol);
            UpdateTree(tree, symbol);
            if (m.distance != 0) {
                bits += OffsetBits(m.distance);
            }
            at += static_cast<size_t>(m.length);
        }
    }

    void EndStretch(size_t at) {
        prices.from.push_back(stretch);
        prices.table.push_back(WeightPrices(tree));
        stretch = at;
    }

    AdaptiveTree tree;
    uint64_t bits = 0;
    PriceSchedule prices;
    size_t stretch = 0; // chunk position where the current stretch began
};

// One-step lazy over a chunk's matches, as ParseLazy parses: the parse that
// the best level must never lose to.
void LazySteps(const ChunkMatches& matches, size_t n, std::vector<Match>& steps) {
    // The longest match at i that ends within the chunk, if any.
    auto longest = [&](size_t i) {
        if (i >= n || matches.first[i] == matches.first[i + 1]) {
            return Match{0, 0};
        }
        Match m = matches.list[matches.first[i + 1] - 1];
        m.length = std::min<int>(m.length, static_cast<int>(n - i));
        return m;
    };
    steps.clear();
    for (size_t i = 0; i < n;) {
        Match here = longest(i);
        if (here.length < MinMatch || longest(i + 1).length > here.length) {
            steps.push_back(Match{1, 0});
            ++i;
        } else {
            steps.push_back(here);
            i += static_cast<size_t>(here.length);
        }
    }
}

// The best level. A chunk at a time: a first parse block by block, each
// block by shortest path under the code lengths of the tree as the parse
// before it left it; then passes over the whole chunk priced by the counts
// that the pass before ended each stretch with, which the code lengths at a
// block's start know nothing of (at the start of an entry all symbols cost
// eight or nine bits). Each parse, and the lazy one, is sized exactly under
// the adaptive code, and the smallest is sent.
void ParseBest(Work& w) {
    constexpr size_t ChunkSize = 256 * 1024; // bounds the matches held at once
    constexpr size_t BlockSize = 4096;
    constexpr int RepricedPasses = 2;
    TreeFinder finder(w.text);
    ChunkMatches matches;
    ShortestPath shortest;
    std::vector<Match> best, trial, block;
    for (size_t start = RingStart; start < w.text.End();) {
        size_t n = std::min(ChunkSize, w.text.End() - start);
        const uint8_t* text = w.text.At(start);
        matches.Collect(finder, start, n);

        Trial first(w.symbols.Tree());
        best.clear();
        for (size_t b = 0; b < n; b += BlockSize) {
            PriceSchedule now{{0}, {CodeLengthPrices(first.tree)}};
            shortest.Find(text, matches, b, std::min(BlockSize, n - b), now, block);
            first.Run(text, b, block);
            best.insert(best.end(), block.begin(), block.end());
        }
        first.EndStretch(n);
        uint64_t bestBits = first.bits;
        PriceSchedule prices = std::move(first.prices);
        LazySteps(matches, n, trial);
        Trial lazy(w.symbols.Tree());
        lazy.Run(text, 0, trial);
        if (lazy.bits < bestBits) {
            bestBits = lazy.bits;
            best.swap(trial);
        }
        for (int pass = 0; pass < RepricedPasses; ++pass) {
            shortest.Find(text, matches, 0, n, prices, trial);
            Trial next(w.symbols.Tree());
            next.Run(text, 0, trial);
            next.EndStretch(n);
            if (next.bits < bestBits) {
                bestBits = next.bits;
                best.swap(trial);
            }
            prices = std::move(next.prices);
        }

        size_t pos = start;
        for (const Match& m : best) {
            w.Reached(pos);
            if (m.distance == 0) {
                w.symbols.Literal(w.text[pos]);
            } else {
                w.symbols.Copy(m);
            }
            pos += static_cast<size_t>(m.length);
        }
        start += n;
    }
}

// The stream of the input, given up with StreamLimitReached once it would
// pass `limit` bytes.
std::vector<uint8_t> Encode(const uint8_t* data, size_t size, Level level,
                            const EncodeProgress& progress, size_t limit) {
    Work w(data, size, limit);
    w.progress = &progress;
    w.nextReport = RingStart;
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
        ParseBest(w);
        break;
    }
    return w.bits.Finish();
}

} // namespace

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, Level level,
                                  const EncodeProgress& progress) {
    if (size == 0) {
        return {};
    }
    std::vector<uint8_t> stream =
        Encode(data, size, level, progress, std::numeric_limits<size_t>::max());
    if (progress) {
        progress(size);
    }
    return stream;
}

std::vector<uint8_t> EncodeSmaller(const uint8_t* data, size_t size, Level level,
                                   const EncodeProgress& progress) {
    std::vector<uint8_t> stream;
    if (size > 1) {
        try {
            stream = Encode(data, size, level, progress, size - 1);
        } catch (const StreamLimitReached&) {
            // No smaller stream: the result stays empty.
        }
    }
    if (progress) {
        progress(size);
    }
    return stream;
}
