#include "package/format.h"
#include "package/pe_checksum.h"
#include "package/writer.h"
#include "tests/unit/test_support.h"

#include <cstring>

namespace {

TEST(StubLayout, TheBuiltInstallerCanTakeAPackage) {
    pkg::StubLayout layout = pkg::CheckStubLayout(Stub());
    // The four LASTRES bytes are the last data: nothing but padding follows.
    for (size_t i = layout.packageOffset; i < Stub().size(); ++i)
        ASSERT_EQ(Stub()[i], 0) << "at " << i;
}

TEST(StubLayout, RefusesImagesThePackageWouldDamage) {
    const std::vector<uint8_t>& stub = Stub();
    uint32_t pe = ReadLe32(&stub[60]);
    const struct {
        const char* name;
        void (*damage)(std::vector<uint8_t>&, uint32_t pe);
    } cases[] = {
        {"no MZ", [](std::vector<uint8_t>& i, uint32_t) { i[0] = 'X'; }},
        {"optional header size", [](std::vector<uint8_t>& i, uint32_t pe) { i[pe + 20] = 240; }},
        {"data after .rsrc", [](std::vector<uint8_t>& i, uint32_t) { i.resize(i.size() + 1); }},
        {"no .rsrc last",
         [](std::vector<uint8_t>& i, uint32_t pe) {
             uint16_t n = ReadLe16(&i[pe + 6]);
             memcpy(&i[pe + 248 + 40 * (n - 1)], ".rsrx", 5);
         }},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = stub;
        c.damage(image, pe);
        EXPECT_THROW(pkg::CheckStubLayout(image), pkg::PackageError) << c.name;
    }
}

TEST(WriteInstaller, LaysOutDirectoryThenFilesWithAbsoluteOffsets) {
    pkg::EntryToWrite compressed = Stored(PatternBytes(30, 2), ".TXT");
    compressed.originalSize = 99;
    pkg::PackageToWrite package{"Fish Tank", 11, {Stored(PatternBytes(5000, 1)), compressed}};
    std::vector<uint8_t> out = pkg::WriteInstaller(Stub(), package);
    uint32_t at = pkg::CheckStubLayout(Stub()).packageOffset;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[at])), "Fish Tank");
    EXPECT_EQ(ReadLe16(&out[at + 32]), 11);
    uint32_t expectedOffset = at + PackageHeaderSize + 3 * PackageEntrySize;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        PackageEntry e = ParsePackageEntry(&out[at + PackageHeaderSize + 16 * i]);
        EXPECT_EQ(e.FileOffset, expectedOffset);
        EXPECT_EQ(e.StoredSize, package.entries[i].stored.size());
        EXPECT_EQ(e.OriginalSize, package.entries[i].originalSize);
        EXPECT_TRUE(std::equal(package.entries[i].stored.begin(), package.entries[i].stored.end(),
                               out.begin() + e.FileOffset));
        expectedOffset += e.StoredSize;
    }
    PackageEntry terminator = ParsePackageEntry(&out[at + PackageHeaderSize + 32]);
    EXPECT_EQ(terminator.StoredSize, 0u);
    EXPECT_EQ(terminator.FileOffset, 0u);
    EXPECT_EQ(out.size(), expectedOffset);
    // Everything before the package is the stub's own, but the checksum,
    // which must fit the new file.
    size_t field = ReadLe32(&out[DosLfanewOffset]) + ChecksumFromLfanew;
    EXPECT_TRUE(std::equal(Stub().begin(), Stub().begin() + field, out.begin()));
    EXPECT_TRUE(
        std::equal(Stub().begin() + field + 4, Stub().begin() + at, out.begin() + field + 4));
    uint32_t stamped = ReadLe32(&out[field]);
    WriteLe32(&out[field], 0);
    EXPECT_EQ(stamped,
              FinishChecksum(AddChecksumWords(0, out.data(), out.size()), uint32_t(out.size())));
}

// The checksum is summed over the pieces the installer is made of; entries
// of odd sizes put a word across two of them.
TEST(WriteInstaller, ItsChecksumFitsTheWholeFileWhateverTheEntriesSizes) {
    const std::vector<std::vector<size_t>> cases = {{1}, {1, 1}, {3, 2, 5}, {2, 7}, {5001, 1, 4}};
    for (const std::vector<size_t>& sizes : cases) {
        pkg::PackageToWrite package{"t", 0, {}};
        for (size_t size : sizes)
            package.entries.push_back(Stored(PatternBytes(size, uint8_t(size))));
        std::vector<uint8_t> out = pkg::WriteInstaller(Stub(), package);
        size_t field = ReadLe32(&out[DosLfanewOffset]) + ChecksumFromLfanew;
        uint32_t stamped = ReadLe32(&out[field]);
        WriteLe32(&out[field], 0);
        EXPECT_EQ(stamped,
                  FinishChecksum(AddChecksumWords(0, out.data(), out.size()), uint32_t(out.size())))
            << sizes.size() << " entries, the first of " << sizes[0];
    }
}

TEST(WriteInstaller, RefusesWhatTheInstallerCouldNotReadBack) {
    const struct {
        const char* name;
        pkg::PackageToWrite package;
    } cases[] = {
        {"title of 33", {std::string(33, 'x'), 0, {Stored({1})}}},
        {"extension of 5", {"t", 0, {Stored({1}), Stored({1}), Stored({1}, ".TEXT")}}},
        {"empty entry (would end the directory)", {"t", 0, {Stored({})}}},
    };
    for (const auto& c : cases)
        EXPECT_THROW(pkg::WriteInstaller(Stub(), c.package), pkg::PackageError) << c.name;
}

} // namespace

namespace {

// Windows refuses an image whose sections run past the end of the file: a
// tiny package in a stub cut short after LASTRES still reaches the end of
// .rsrc as the section table gives it.
TEST(WriteInstaller, PadsATinyPackageToTheEndOfRsrc) {
    pkg::StubLayout layout = pkg::CheckStubLayout(Stub());
    std::vector<uint8_t> cut(Stub().begin(), Stub().begin() + layout.packageOffset + 4);
    std::vector<uint8_t> out = pkg::WriteInstaller(cut, pkg::PackageToWrite{"t", 0, {Stored({1})}});
    EXPECT_EQ(out.size(), layout.rsrcEnd);
    EXPECT_EQ(out.size(), Stub().size());
}

} // namespace
