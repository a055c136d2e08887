#include "tools/saverpack/checksum.h"

#include "package/format.h"

#include <algorithm>
#include <cstring>

namespace saverpack {
namespace {

// The PE header's signature and file header, then the optional header,
// which keeps the checksum 64 bytes in.
enum : uint32_t { OptionalHeaderFromPe = 24, ChecksumInOptionalHeader = 64, PeOffsetField = 60 };

} // namespace

uint64_t ChecksumFieldIn(const pkg::ByteSource& image, const std::string& shownName) {
    unsigned char bytes[4];
    if (image.ReadAt(PeOffsetField, bytes, 4) != 4)
        throw Failure(shownName + ": internal error: it has no PE header to keep a checksum in");
    uint64_t field = ChecksumFieldOffset(ReadLe32(bytes));
    if (field + 4 > image.Size())
        throw Failure(shownName + ": internal error: it has no PE header to keep a checksum in");
    return field;
}

uint64_t ChecksumFieldOffset(uint32_t peOffset) {
    return uint64_t(peOffset) + OptionalHeaderFromPe + ChecksumInOptionalHeader;
}

uint32_t PeChecksum(const pkg::ByteSource& file, uint64_t fieldOffset) {
    // An even block size keeps every word within one block; one byte more
    // makes room for the zero that pairs an odd last byte.
    const size_t BlockSize = size_t(1) << 20;
    std::vector<uint8_t> block(BlockSize + 1);
    uint64_t sum = 0;
    for (uint64_t at = 0;;) {
        size_t got = file.ReadAt(at, block.data(), BlockSize);
        if (got == 0)
            break;
        uint64_t from = std::max(at, fieldOffset), to = std::min(at + got, fieldOffset + 4);
        for (uint64_t i = from; i < to; ++i)
            block[size_t(i - at)] = 0;
        at += got;
        if (got % 2)
            block[got++] = 0;
        for (size_t i = 0; i < got; i += 2)
            sum += uint32_t(block[i]) | uint32_t(block[i + 1]) << 8;
        // Folding once per block gives what folding after every word does:
        // both keep the sum's value modulo 0xFFFF, within 1 to 0xFFFF.
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return uint32_t(sum) + uint32_t(file.Size());
}

void StampChecksum(std::vector<uint8_t>& image) {
    pkg::MemoryBytes bytes(image);
    uint64_t field = ChecksumFieldIn(bytes, "the installer");
    WriteLe32(&image[size_t(field)], PeChecksum(bytes, field));
}

} // namespace saverpack
