#include "package/format.h"
#include "package/locator.h"
#include "package/reader.h"
#include "tests/unit/test_support.h"

#include <cstring>

namespace {

class LocatorTest : public InstallerTest {
  protected:
    // The position LocatePackage leaves its handle at, or -1.
    long LocatedOffset() {
        HFILE h = LocatePackage();
        if (h == HFILE_ERROR)
            return -1;
        long at = _llseek(h, 0, FILE_CURRENT);
        _lclose(h);
        return at;
    }
    uint32_t Scan() {
        TotalInstallSize = 0;
        EXPECT_TRUE(ScanPackageDirectory(&TotalInstallSize));
        return TotalInstallSize;
    }
};

TEST_F(LocatorTest, FindsThePackageInTheBuiltInstaller) {
    pkg::PackageToWrite package{"Fish Tank", 11, {Stored(PatternBytes(100, 1))}};
    PlaceInstaller(package);
    EXPECT_EQ(LocatedOffset(), long(pkg::CheckStubLayout(Stub()).packageOffset));
    char title[TitleBufferSize] = {};
    ReadSaverTitle(title);
    EXPECT_STREQ(title, "Fish Tank");
    EXPECT_EQ(world->openHandles, 0);
}

TEST_F(LocatorTest, TakesTheFirstResourceWhateverItIs) {
    SyntheticImage lastres;
    std::vector<uint8_t> image = lastres.Build();
    PlaceImage(image);
    EXPECT_EQ(LocatedOffset(), long(lastres.dataOffset));

    // An id type first and no named one: its first data is taken instead.
    SyntheticImage idFirst;
    idFirst.lastresFirst = false;
    PlaceImage(idFirst.Build());
    EXPECT_EQ(LocatedOffset(), long(idFirst.dataOffset));
}

TEST_F(LocatorTest, FailsWithoutAResourceSection) {
    SyntheticImage image;
    image.withRsrc = false;
    PlaceImage(image.Build());
    EXPECT_EQ(LocatedOffset(), -1);
    EXPECT_EQ(world->openHandles, 0);
}

TEST_F(LocatorTest, ReadsTheSectionTableAfter224BytesWhateverTheHeaderSays) {
    // The table really lies 16 bytes further: the search starts inside the
    // optional header, finds no ".rsrc" name at a 40-byte step and ends at
    // the end of the file.
    SyntheticImage image;
    image.sizeOfOptionalHeader = 240;
    PlaceImage(image.Build());
    EXPECT_EQ(LocatedOffset(), -1);
    EXPECT_EQ(world->openHandles, 0);
}

TEST_F(LocatorTest, FailsForAPathLongerThanItsBuffer) {
    SyntheticImage image;
    std::vector<uint8_t> bytes = image.Build();
    std::string directory(250, 'd');
    world->modulePath = "C:\\" + directory + "\\MySaver.exe";
    host::PutFile(world->modulePath, bytes);
    EXPECT_EQ(LocatedOffset(), -1);
    char title[TitleBufferSize] = {};
    ReadSaverTitle(title);
    EXPECT_STREQ(title, "");
    EXPECT_FALSE(ScanPackageDirectory(&TotalInstallSize));
    EXPECT_EQ(TotalInstallSize, 0u);
}

TEST_F(LocatorTest, TitleOf32CharactersHasNoTerminatorInThePackage) {
    std::string title32(32, 'T');
    PlaceInstaller({title32, 0, {Stored(PatternBytes(10, 1))}});
    char title[TitleBufferSize] = {};
    ReadSaverTitle(title);
    EXPECT_EQ(std::string(title), title32);
}

TEST_F(LocatorTest, ScanCountsEachEntryAsInstalled) {
    pkg::EntryToWrite compressed = Stored(PatternBytes(1000, 2));
    compressed.originalSize = 5000;
    const struct {
        const char* name;
        std::vector<pkg::EntryToWrite> entries;
        uint32_t total;
    } cases[] = {
        {"terminator first", {}, 0},
        {"stored and compressed", {Stored(PatternBytes(1000, 1)), compressed}, 6000},
    };
    for (const auto& c : cases) {
        PlaceInstaller({"T", 0, c.entries});
        EXPECT_EQ(Scan(), c.total) << c.name;
    }
}

TEST_F(LocatorTest, ScanWrapsPast4GiB) {
    pkg::EntryToWrite big = Stored(PatternBytes(10, 1));
    big.originalSize = 0x90000000u;
    PlaceInstaller({"T", 0, {big, big}});
    EXPECT_EQ(Scan(), 0x20000000u);
}

TEST_F(LocatorTest, ScanAddsTheTerminatorsOriginalSizeAndStopsAtAShortRead) {
    PlaceInstaller({"T", 0, {Stored(PatternBytes(100, 1)), Stored(PatternBytes(200, 2))}});
    std::vector<uint8_t> image = FileAt(world->modulePath);
    uint32_t directory = pkg::CheckStubLayout(Stub()).packageOffset;
    uint32_t terminator = directory + PackageHeaderSize + 2 * PackageEntrySize;
    WriteLe32(&image[terminator + 8], 77);
    PlaceImage(image);
    EXPECT_EQ(Scan(), 377u);

    // Cut in the middle of the second entry: the first one counts, and the
    // scan still succeeds.
    image.resize(directory + PackageHeaderSize + PackageEntrySize + 7);
    PlaceImage(image);
    EXPECT_EQ(Scan(), 100u);
    EXPECT_EQ(world->openHandles, 0);
}

// saverpack's reader must take the installer's own path: the same place,
// and the same total as the scan, for every image here, odd ones included.
TEST_F(LocatorTest, TheAuthoringReaderFindsWhatTheInstallerFinds) {
    std::vector<std::vector<uint8_t>> images;
    images.push_back(pkg::WriteInstaller(Stub(), {"T", 0, {Stored(PatternBytes(100, 1))}}));
    images.push_back(images[0]);
    images[1].resize(pkg::CheckStubLayout(Stub()).packageOffset + PackageHeaderSize + 7);
    for (int variant = 0; variant < 5; ++variant) {
        SyntheticImage image;
        image.lastresFirst = variant != 1;
        image.sizeOfOptionalHeader = variant == 2 ? 240 : 224;
        image.withRsrc = variant != 3;
        images.push_back(image.Build());
        if (variant == 4)
            // e_lfanew + 248 wraps to 232, two 40-byte steps before the table.
            WriteLe32(&images.back()[60], 0xFFFFFFF0u);
    }
    for (size_t i = 0; i < images.size(); ++i) {
        PlaceImage(images[i]);
        pkg::MemoryBytes bytes(images[i]);
        pkg::FoundPackage found = pkg::FindPackage(bytes);
        EXPECT_EQ(found.found ? long(found.headerOffset) : -1L, LocatedOffset()) << i;
        EXPECT_EQ(found.found, i != 4 && i != 5) << i; // no .rsrc, or no table where it looks
        TotalInstallSize = 0;
        if (ScanPackageDirectory(&TotalInstallSize)) {
            EXPECT_EQ(pkg::ReadDirectory(bytes, found.headerOffset).totalInstallSize,
                      TotalInstallSize)
                << i;
        }
    }
}

} // namespace
