// The PE checksum, shared by the installer, which checks its own file with
// it before it asks anything, and the writers of installers, which stamp
// the right one into every installer they write. A file whose non-zero
// checksum no longer fits its bytes was changed after it was made: damaged,
// or cut short.
//
// The checksum is the file's 16-bit little-endian words summed with the
// carries folded back in, the checksum field itself counted as zeros and an
// odd last byte as a word of its own, plus the file's length.
#pragma once

#include "package/format.h"
#include "package/pe_layout.h"

#include <stddef.h>
#include <stdint.h>

// Adds `count` bytes as words to a running sum, folding each carry back in
// at once. An odd last byte is a word of its own, so a file read in blocks
// passes even blocks but the last.
inline uint32_t AddChecksumWords(uint32_t sum, const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; i += 2) {
        sum += bytes[i] | (i + 1 < count ? (uint32_t)bytes[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum;
}

inline uint32_t FinishChecksum(uint32_t sum, uint32_t fileSize) {
    return sum + fileSize;
}

// The checksum of a file that is never whole in memory, added piece by
// piece in file order: a word may straddle two pieces.
struct ChecksumOfPieces {
    uint32_t sum = 0;
    int pending = -1; // a piece's odd last byte, until the next one's first

    void Add(const unsigned char* bytes, size_t count) {
        if (pending >= 0 && count > 0) {
            const unsigned char word[2] = {(unsigned char)pending, bytes[0]};
            sum = AddChecksumWords(sum, word, 2);
            pending = -1;
            ++bytes;
            --count;
        }
        sum = AddChecksumWords(sum, bytes, count & ~(size_t)1);
        if (count & 1)
            pending = bytes[count - 1];
    }

    uint32_t Finish(uint32_t fileSize) const {
        uint32_t whole = sum;
        if (pending >= 0) {
            unsigned char last = (unsigned char)pending;
            whole = AddChecksumWords(whole, &last, 1);
        }
        return FinishChecksum(whole, fileSize);
    }
};

// Puts the right checksum into a whole image held in memory, whose field
// lies at `field`, inside it.
inline void StampPeChecksum(unsigned char* image, uint32_t size, uint32_t field) {
    WriteLe32(image + field, 0);
    WriteLe32(image + field, FinishChecksum(AddChecksumWords(0, image, size), size));
}
