// A plain decoder of the compressed format, written line by line from its
// definition with nothing shared with decoder/: its own tree, a 16-bit bit
// window filled before every bit, memory in and out. It is the baseline the
// benchmarks measure the real decoder against, and the tests' second opinion.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace plain {

constexpr int N = 4096, F = 30, THRESHOLD = 2;
constexpr int N_CHAR = 256 - THRESHOLD + F; // 284
constexpr int T = N_CHAR * 2 - 1;           // 567
constexpr int R = T - 1;
constexpr unsigned MAX_FREQ = 0x8000;

struct Decoder {
    uint16_t freq[T + 1];
    int16_t son[T];
    int16_t prnt[T + N_CHAR];
    uint8_t text[N] = {};

    const uint8_t* in = nullptr;
    uint32_t left = 0;
    uint16_t getbuf = 0;
    uint8_t getlen = 0;
    uint8_t d_code[256], d_len[256];

    Decoder() {
        // Offset prefix codes: lengths 3, 4, 5, 6, 7, 8 for 1, 3, 8, 12, 24, 16 values of u.
        const int counts[] = {1, 3, 8, 12, 24, 16};
        int v = 0, u = 0;
        for (int len = 3; len <= 8; ++len) {
            for (int c = 0; c < counts[len - 3]; ++c, ++u) {
                for (int e = 0; e < (256 >> len); ++e, ++v) {
                    d_code[v] = static_cast<uint8_t>(u);
                    d_len[v] = static_cast<uint8_t>(len);
                }
            }
        }
    }

    void Fill() {
        while (getlen <= 8) {
            unsigned byte = 0;
            if (left > 0) {
                byte = *in++;
                --left;
            }
            getbuf = static_cast<uint16_t>(getbuf | (byte << (8 - getlen)));
            getlen = static_cast<uint8_t>(getlen + 8);
        }
    }
    int GetBit() {
        Fill();
        int bit = getbuf >> 15;
        getbuf = static_cast<uint16_t>(getbuf << 1);
        getlen--;
        return bit;
    }
    int GetByte() {
        Fill();
        int byte = getbuf >> 8;
        getbuf = static_cast<uint16_t>(getbuf << 8);
        getlen = static_cast<uint8_t>(getlen - 8);
        return byte;
    }

    void StartHuff() {
        for (int i = 0; i < N_CHAR; i++) {
            freq[i] = 1;
            son[i] = static_cast<int16_t>(i + T);
            prnt[i + T] = static_cast<int16_t>(i);
        }
        int i = 0, j = N_CHAR;
        while (j <= R) {
            freq[j] = static_cast<uint16_t>(freq[i] + freq[i + 1]);
            son[j] = static_cast<int16_t>(i);
            prnt[i] = prnt[i + 1] = static_cast<int16_t>(j);
            i += 2;
            j++;
        }
        freq[T] = 0xffff;
        prnt[R] = 0;
    }

    void Reconst() {
        int j = 0;
        for (int i = 0; i < T; i++) {
            if (son[i] >= T) {
                freq[j] = static_cast<uint16_t>((freq[i] + 1u) / 2);
                son[j] = son[i];
                j++;
            }
        }
        for (int i = 0, j2 = N_CHAR; j2 < T; i += 2, j2++) {
            unsigned f = freq[i] + freq[i + 1];
            int k = j2 - 1;
            while (f < freq[k]) {
                k--;
            }
            k++;
            for (int m = j2; m > k; --m) {
                freq[m] = freq[m - 1];
                son[m] = son[m - 1];
            }
            freq[k] = static_cast<uint16_t>(f);
            son[k] = static_cast<int16_t>(i);
        }
        for (int i = 0; i < T; i++) {
            int k = son[i];
            if (k >= T) {
                prnt[k] = static_cast<int16_t>(i);
            } else {
                prnt[k] = prnt[k + 1] = static_cast<int16_t>(i);
            }
        }
    }

    void Update(int c) {
        if (freq[R] == MAX_FREQ) {
            Reconst();
        }
        c = prnt[c + T];
        do {
            unsigned k = ++freq[c];
            int l = c + 1;
            if (k > freq[l]) {
                while (k > freq[++l]) {
                }
                l--;
                freq[c] = freq[l];
                freq[l] = static_cast<uint16_t>(k);
                int i = son[c];
                prnt[i] = static_cast<int16_t>(l);
                if (i < T) {
                    prnt[i + 1] = static_cast<int16_t>(l);
                }
                int j = son[l];
                son[l] = static_cast<int16_t>(i);
                prnt[j] = static_cast<int16_t>(c);
                if (j < T) {
                    prnt[j + 1] = static_cast<int16_t>(c);
                }
                son[c] = static_cast<int16_t>(j);
                c = l;
            }
        } while ((c = prnt[c]) != 0);
    }

    int DecodeChar() {
        unsigned c = son[R];
        while (c < static_cast<unsigned>(T)) {
            c = son[c + GetBit()];
        }
        c -= T;
        Update(static_cast<int>(c));
        return static_cast<int>(c);
    }

    int DecodePosition() {
        unsigned i = static_cast<unsigned>(GetByte());
        unsigned c = static_cast<unsigned>(d_code[i]) << 6;
        int j = d_len[i] - 2;
        while (j--) {
            i = (i << 1) + static_cast<unsigned>(GetBit());
        }
        return static_cast<int>(c | (i & 0x3f));
    }

    // Returns the bytes produced, with a last match kept whole.
    std::vector<uint8_t> Decode(const uint8_t* stored, uint32_t storedSize, int32_t textsize) {
        std::vector<uint8_t> outBytes;
        DecodeInto(stored, storedSize, textsize, outBytes);
        return outBytes;
    }

    // The same into `outBytes`, whose room is kept from call to call.
    void DecodeInto(const uint8_t* stored, uint32_t storedSize, int32_t textsize,
                    std::vector<uint8_t>& outBytes) {
        outBytes.clear();
        in = stored;
        left = storedSize;
        getbuf = 0;
        getlen = 0;
        if (textsize == 0) {
            return;
        }
        outBytes.reserve(static_cast<size_t>(textsize) + F);
        StartHuff();
        std::memset(text, ' ', N - F);
        int r = N - F;
        for (int32_t count = 0; count < textsize;) {
            int c = DecodeChar();
            if (c < 256) {
                outBytes.push_back(static_cast<uint8_t>(c));
                text[r++] = static_cast<uint8_t>(c);
                r &= (N - 1);
                count++;
            } else {
                int i = (r - DecodePosition() - 1) & (N - 1);
                int j = c - 255 + THRESHOLD;
                for (int k = 0; k < j; k++) {
                    c = text[(i + k) & (N - 1)];
                    outBytes.push_back(static_cast<uint8_t>(c));
                    text[r++] = static_cast<uint8_t>(c);
                    r &= (N - 1);
                }
                count += j;
            }
        }
    }
};

} // namespace plain
