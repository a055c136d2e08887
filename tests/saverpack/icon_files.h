// .ico files made in a test: DIB and PNG images with structurally sound
// headers and patterned pixels, in the file layout Windows reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tooltest {

inline void Put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// The CRC-32 of PNG chunks.
inline uint32_t Crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

// A DIB as an .ico holds it: BITMAPINFOHEADER (height doubled for the AND
// mask), palette, colour rows, mask rows; the pixels are a pattern.
inline std::vector<uint8_t> Dib(unsigned side, unsigned bitCount) {
    std::vector<uint8_t> b;
    for (uint32_t v : {40u, side, 2 * side})
        Put32(b, v);
    Put16(b, 1);
    Put16(b, bitCount);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    if (bitCount <= 8)
        b.resize(b.size() + (4u << bitCount), 0x40);
    size_t rows = (side * bitCount + 31) / 32 * 4 * side, mask = (side + 31) / 32 * 4 * side;
    for (size_t i = 0; i < rows + mask; ++i)
        b.push_back(uint8_t(i * 37 + side));
    return b;
}

// A PNG's signature, IHDR and IEND with their CRCs; Windows reads no more of
// it than an author's tool would have checked.
inline std::vector<uint8_t> Png(unsigned side) {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, std::vector<uint8_t> data) {
        Put32Be(b, uint32_t(data.size()));
        size_t start = b.size();
        b.insert(b.end(), type, type + 4);
        b.insert(b.end(), data.begin(), data.end());
        Put32Be(b, Crc32(&b[start], b.size() - start));
    };
    std::vector<uint8_t> header;
    Put32Be(header, side);
    Put32Be(header, side);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    chunk("IHDR", header);
    chunk("IEND", {});
    return b;
}

struct IcoImage {
    unsigned side, bitCount;
    std::vector<uint8_t> bytes;
};

inline std::vector<uint8_t> Ico(const std::vector<IcoImage>& images) {
    std::vector<uint8_t> b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, unsigned(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (const IcoImage& i : images) {
        b.push_back(uint8_t(i.side % 256));
        b.push_back(uint8_t(i.side % 256));
        b.push_back(i.bitCount < 8 ? uint8_t(1u << i.bitCount) : 0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, i.bitCount);
        Put32(b, uint32_t(i.bytes.size()));
        Put32(b, offset);
        offset += uint32_t(i.bytes.size());
    }
    for (const IcoImage& i : images)
        b.insert(b.end(), i.bytes.begin(), i.bytes.end());
    return b;
}

} // namespace tooltest
