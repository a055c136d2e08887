#include "tools/saverpack/checksum.h"

#include "package/format.h"
#include "package/pe_checksum.h"
#include "package/pe_layout.h"

#include <algorithm>
#include <cstring>

namespace saverpack {

uint64_t ChecksumFieldIn(const pkg::ByteSource& image, const std::string& shownName) {
    unsigned char bytes[4];
    if (image.ReadAt(DosLfanewOffset, bytes, 4) != 4)
        throw Failure(shownName + ": internal error: it has no PE header to keep a checksum in");
    uint64_t field = ChecksumFieldOffset(ReadLe32(bytes));
    if (field + 4 > image.Size())
        throw Failure(shownName + ": internal error: it has no PE header to keep a checksum in");
    return field;
}

uint64_t ChecksumFieldOffset(uint32_t peOffset) {
    return uint64_t(peOffset) + ChecksumFromLfanew;
}

uint32_t PeChecksum(const pkg::ByteSource& file, uint64_t fieldOffset) {
    // Even, so that only the last block can end in an odd byte.
    const size_t BlockSize = size_t(1) << 20;
    std::vector<uint8_t> block(BlockSize);
    uint32_t sum = 0;
    for (uint64_t at = 0;;) {
        size_t got = file.ReadAt(at, block.data(), BlockSize);
        if (got == 0)
            break;
        uint64_t from = std::max(at, fieldOffset), to = std::min(at + got, fieldOffset + 4);
        for (uint64_t i = from; i < to; ++i)
            block[size_t(i - at)] = 0;
        at += got;
        sum = AddChecksumWords(sum, block.data(), got);
    }
    return FinishChecksum(sum, uint32_t(file.Size()));
}

} // namespace saverpack
