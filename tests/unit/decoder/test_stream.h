// Test-side making of compressed streams, independent of decoder/: symbols
// are coded on the plain decoder's own tree, offsets by a canonical prefix
// code built from the code lengths alone, and the expected output is kept by
// a direct model of the sliding history (the blanks, then every byte made).
#pragma once

#include "bench/plain_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_streams {

// Code length of the prefix code for the upper six bits u of an offset.
inline int UpperCodeLength(int u) {
    return u == 0 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
}

// Canonical codes in increasing order of u, starting from all zeros.
inline std::vector<uint32_t> UpperCodes() {
    std::vector<uint32_t> codes(64);
    uint32_t code = 0;
    for (int u = 1; u < 64; ++u) {
        code = (code + 1) << (UpperCodeLength(u) - UpperCodeLength(u - 1));
        codes[u] = code;
    }
    return codes;
}

class TestStream {
  public:
    static constexpr int Prefill = 4066;

    TestStream() : history_(Prefill, ' '), upper_(UpperCodes()) { tree_.StartHuff(); }

    void Literal(uint8_t byte) {
        Symbol(byte);
        history_.push_back(byte);
    }

    // A match of `length` (3..30) bytes at `offset` (0..4095: offset + 1 back).
    void Match(int length, int offset) {
        Symbol(253 + length);
        int u = offset >> 6;
        Bits(upper_[u], UpperCodeLength(u));
        Bits(static_cast<uint32_t>(offset & 63), 6);
        size_t from = history_.size() - static_cast<size_t>(offset) - 1;
        for (int k = 0; k < length; ++k) {
            history_.push_back(history_[from + static_cast<size_t>(k)]);
        }
    }

    // The path of `symbol` in the test's tree now, root first, as '0'/'1'.
    std::string Code(int symbol) const {
        std::string code;
        for (int x = tree_.prnt[symbol + plain::T]; x != plain::R; x = tree_.prnt[x]) {
            code.insert(code.begin(), x == tree_.son[tree_.prnt[x]] ? '0' : '1');
        }
        return code;
    }

    // Bytes made so far, without the blanks.
    std::vector<uint8_t> Expected() const {
        return std::vector<uint8_t>(history_.begin() + Prefill, history_.end());
    }
    size_t Made() const { return history_.size() - Prefill; }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out = bytes_;
        if (pending_ > 0) {
            out.push_back(static_cast<uint8_t>(acc_ << (8 - pending_)));
        }
        return out;
    }

  private:
    void Symbol(int symbol) {
        for (char bit : Code(symbol)) {
            Bits(bit == '1', 1);
        }
        tree_.Update(symbol);
    }

    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++pending_ == 8) {
                bytes_.push_back(static_cast<uint8_t>(acc_));
                pending_ = 0;
                acc_ = 0;
            }
        }
    }

    plain::Decoder tree_;
    std::vector<uint8_t> history_;
    std::vector<uint32_t> upper_;
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int pending_ = 0;
};

} // namespace testing_streams
