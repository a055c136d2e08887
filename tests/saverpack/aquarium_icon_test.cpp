// The aquarium sample's drawn icon: an .ico that Windows and saverpack both
// read, with small sizes as bitmaps and the large one as a PNG.
#include "package/format.h"
#include "tests/saverpack/icon_files.h"
#include "tests/saverpack/tool_run.h"

namespace {

using namespace tooltest;

const fs::path AquariumDir = AQUARIUM_DIR;

uint32_t ReadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Image {
    unsigned side;
    bool png;
};
const Image Expected[] = {{16, false}, {32, false}, {48, false}, {256, true}};

// The colour rows and the AND mask must agree: a pixel is see-through in the
// mask exactly where its alpha is 0, or Windows without alpha blending draws
// a black frame round the rounded corners.
void CheckDib(const uint8_t* image, size_t size, unsigned side) {
    ASSERT_GE(size, 40u);
    EXPECT_EQ(ReadLe32(image), 40u);
    EXPECT_EQ(ReadLe32(image + 4), side);
    EXPECT_EQ(ReadLe32(image + 8), 2 * side) << "colour rows and mask rows";
    EXPECT_EQ(ReadLe16(image + 12), 1u);
    EXPECT_EQ(ReadLe16(image + 14), 32u);
    EXPECT_EQ(ReadLe32(image + 16), 0u) << "uncompressed";
    const size_t maskStride = (side + 31) / 32 * 4;
    ASSERT_EQ(size, 40 + side * side * 4 + maskStride * side);
    const uint8_t* colour = image + 40;
    const uint8_t* mask = colour + side * side * 4;
    size_t clear = 0, mismatched = 0;
    for (unsigned y = 0; y < side; ++y) {
        for (unsigned x = 0; x < side; ++x) {
            uint8_t alpha = colour[(y * side + x) * 4 + 3];
            bool masked = mask[y * maskStride + x / 8] & (0x80 >> (x % 8));
            clear += alpha == 0;
            mismatched += masked != (alpha == 0);
        }
    }
    EXPECT_EQ(mismatched, 0u);
    EXPECT_EQ(colour[3], 0) << "a rounded corner";
    EXPECT_EQ(colour[(side - 1) * 4 + 3], 0) << "a rounded corner";
    EXPECT_EQ(colour[(side * side / 2 + side / 2) * 4 + 3], 255) << "middle";
    // Rows are bottom-up: sand (more red than blue) comes before water.
    auto pixel = [&](unsigned row) { return colour + (row * side + side / 2) * 4; };
    const uint8_t *sand = pixel(side / 16), *water = pixel(side - 1 - side / 16);
    EXPECT_GT(sand[2], sand[0]) << "sand is in the first rows";
    EXPECT_GT(water[0], water[2]) << "water is in the last rows";
    EXPECT_GT(clear, 0u);
    EXPECT_LT(clear, side * side / 4) << "the square fills most of the icon";
}

// Chunk by chunk with their CRCs, as a picky reader would: IHDR first, of
// 8-bit RGBA, and nothing after IEND.
void CheckPng(const uint8_t* image, size_t size, unsigned side) {
    static const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GE(size, 8u);
    ASSERT_TRUE(std::equal(signature, signature + 8, image));
    std::vector<std::string> kinds;
    size_t at = 8;
    while (at + 12 <= size && (kinds.empty() || kinds.back() != "IEND")) {
        uint32_t length = ReadBe32(image + at);
        ASSERT_LE(at + 12 + length, size) << "chunk " << kinds.size();
        kinds.emplace_back(reinterpret_cast<const char*>(image + at + 4), 4);
        EXPECT_EQ(ReadBe32(image + at + 8 + length), Crc32(image + at + 4, length + 4))
            << kinds.back();
        if (kinds.size() == 1) {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(ReadBe32(image + at + 8), side);
            EXPECT_EQ(ReadBe32(image + at + 12), side);
            EXPECT_EQ(std::vector<uint8_t>(image + at + 16, image + at + 21),
                      (std::vector<uint8_t>{8, 6, 0, 0, 0}));
        }
        at += 12 + length;
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(at, size);
}

TEST(AquariumIcon, HoldsThreeBitmapsAndAPngBackToBack) {
    std::vector<uint8_t> ico = ReadBytes(AquariumDir / "aquarium.ico");
    const size_t count = std::size(Expected);
    ASSERT_GE(ico.size(), 6 + 16 * count) << "run make win32";
    EXPECT_EQ(ReadLe16(&ico[0]), 0u);
    EXPECT_EQ(ReadLe16(&ico[2]), 1u) << "an icon, not a cursor";
    ASSERT_EQ(ReadLe16(&ico[4]), count);
    size_t next = 6 + 16 * count;
    for (size_t i = 0; i < count; ++i) {
        const Image& want = Expected[i];
        SCOPED_TRACE(want.side);
        const uint8_t* entry = &ico[6 + 16 * i];
        EXPECT_EQ(entry[0], want.side % 256);
        EXPECT_EQ(entry[1], want.side % 256);
        EXPECT_EQ(entry[2], 0) << "no palette";
        EXPECT_EQ(entry[3], 0);
        EXPECT_EQ(ReadLe16(entry + 4), 1u);
        EXPECT_EQ(ReadLe16(entry + 6), 32u);
        uint32_t size = ReadLe32(entry + 8), offset = ReadLe32(entry + 12);
        EXPECT_EQ(offset, next) << "no gaps, no overlaps";
        ASSERT_LE(size_t(offset) + size, ico.size());
        if (want.png)
            CheckPng(&ico[offset], size, want.side);
        else
            CheckDib(&ico[offset], size, want.side);
        next = size_t(offset) + size;
    }
    EXPECT_EQ(next, ico.size()) << "nothing after the last image";
}

class AquariumPack : public ScratchTest {};

TEST_F(AquariumPack, SaverpackTakesTheIconWithTheSamplesFiles) {
    // Beside copies, as an author packs them.
    for (const char* name : {"aquarium.scr", "sprites.bmp", "background.bmp", "aquarium.ico"})
        fs::copy_file(AquariumDir / name, dir / name);
    const std::vector<std::string> create = {"create",
                                             "-o",
                                             "Aquarium.exe",
                                             "--title",
                                             "Aquarium",
                                             "--saver",
                                             "aquarium.scr",
                                             "--data",
                                             "sprites.bmp",
                                             "background.bmp",
                                             "--icon",
                                             "aquarium.ico",
                                             "--product-version",
                                             "1.0",
                                             "--company",
                                             "Torvanix Samples"};
    ToolRun made = RunTool(SAVERPACK_BINARY, create, dir);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ToolRun list = RunTool(SAVERPACK_BINARY, {"list", "Aquarium.exe"}, dir);
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("16x16 32-bit, 32x32 32-bit, 48x48 32-bit, 256x256 32-bit PNG"),
              std::string::npos)
        << list.out;
    ToolRun verify = RunTool(SAVERPACK_BINARY, {"verify", "Aquarium.exe"}, dir);
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

} // namespace
