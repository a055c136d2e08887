#include "install/checks.h"
#include "tests/unit/test_support.h"

namespace {

class ChecksTest : public InstallerTest {};

TEST_F(ChecksTest, FreeSpaceFallsBackAndReleasesTheLibraryOnce) {
    const uint64_t GiB = 1ull << 30;
    const struct {
        const char* name;
        bool loadLibrary, getProcAddress, diskFreeEx, diskFree;
        uint32_t kilobytes;
        int loads, frees;
    } cases[] = {
        // Ex reports 3 GiB to the caller; the fallback 1000000 clusters of 4 KiB.
        {"Ex found and working", false, false, false, false, uint32_t(3 * GiB >> 10), 1, 1},
        {"Ex failing", false, false, true, false, 4000000, 1, 1},
        {"Ex missing", false, true, false, false, 4000000, 1, 1},
        {"library not loading", true, false, false, false, 4000000, 0, 0},
        {"both failing", false, false, true, true, FreeSpaceUnknown, 1, 1},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        world->fail.loadLibrary = c.loadLibrary;
        world->fail.getProcAddress = c.getProcAddress;
        world->fail.diskFreeEx = c.diskFreeEx;
        world->fail.diskFree = c.diskFree;
        world->disk.freeToCaller = 3 * GiB;
        EXPECT_EQ(GetFreeKilobytes("C:\\WINDOWS"), c.kilobytes) << c.name;
        EXPECT_EQ(world->loadLibraryCalls, c.loads) << c.name;
        EXPECT_EQ(world->freeLibraryCalls, c.frees) << c.name;
    }
}

TEST_F(ChecksTest, BigDrivesAreNotFull) {
    world->disk.freeToCaller = 5ull << 40; // 5 TiB
    EXPECT_EQ(GetFreeKilobytes("C:\\"), 0xFFFFFFFFu);
    world->fail.diskFreeEx = true;
    world->disk.freeClusters = 0xFFFFFFFFu;
    world->disk.sectorsPerCluster = 128;
    world->disk.bytesPerSector = 4096;
    EXPECT_EQ(GetFreeKilobytes("C:\\"), 0xFFFFFFFFu);
}

TEST_F(ChecksTest, QueriesTheDirectoryAboveWithinTheFirst32Characters) {
    const struct {
        std::string path, query;
    } cases[] = {
        {"C:\\WINDOWS", "C:\\"},
        {"C:\\", "C:\\"},
        {"D:\\OS\\WIN", "D:\\OS\\"},
        // The backslash after the a's is the 33rd character: not looked at.
        {"C:\\" + std::string(29, 'a') + "\\" + std::string(10, 'b'), "C:\\"},
        {"C:\\" + std::string(20, 'a') + "\\" + std::string(20, 'b'),
         "C:\\" + std::string(20, 'a') + "\\"},
    };
    world->fail.diskFreeEx = true;
    for (const auto& c : cases) {
        GetFreeKilobytes(c.path.c_str());
        EXPECT_EQ(world->lastDiskQuery[0], c.query) << c.path;
        EXPECT_EQ(world->lastDiskQuery[1], c.query) << c.path;
    }
}

TEST_F(ChecksTest, SpaceWarningShowsWhenAvailableIsNotAboveNeeded) {
    pkg::EntryToWrite declared = Stored(PatternBytes(16, 1));
    const struct {
        uint32_t installSize;
        uint64_t freeBytes;
        bool warns;
        const char* needed;
        const char* available;
    } cases[] = {
        {5000000, 1200 * 1024, true, "4,882", "1,200"},
        {5000000, 4882 * 1024, true, "4,882", "4,882"},
        {5000000, 4883 * 1024, false, "", ""},
        {1023, 0, true, "0", "0"},
        {1023, 1024, false, "", ""},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        declared.originalSize = c.installSize;
        PlaceInstaller({"T", 0, {declared}});
        world->disk.freeToCaller = c.freeBytes;
        world->answers = {IDOK};
        EXPECT_EQ(CheckDiskSpace(), 1);
        EXPECT_EQ(TotalInstallSize, c.installSize);
        ASSERT_EQ(world->boxes.size(), c.warns ? 1u : 0u) << c.installSize << " " << c.freeBytes;
        if (!c.warns)
            continue;
        EXPECT_EQ(world->boxes[0].caption, "Disk Full");
        EXPECT_EQ(world->boxes[0].style, UINT(MB_OKCANCEL | MB_ICONINFORMATION));
        EXPECT_EQ(world->boxes[0].text,
                  std::string("You will need ") + c.needed +
                      " kilobytes free in your Windows directory to install this screen saver.  "
                      "It appears that you only have " +
                      c.available +
                      " kilobytes free on this drive.  Would you like to continue the "
                      "installation?");
    }
}

TEST_F(ChecksTest, OnlyCancelOnTheSpaceWarningStops) {
    pkg::EntryToWrite declared = Stored(PatternBytes(16, 1));
    declared.originalSize = 0xFFFFF000u; // near 4 GiB
    for (int answer : {IDCANCEL, IDOK, 0}) {
        TearDown();
        SetUp();
        PlaceInstaller({"T", 0, {declared}});
        world->disk.freeToCaller = 1ull << 30;
        world->answers = {answer};
        EXPECT_EQ(CheckDiskSpace(), answer == IDCANCEL ? 0 : 1) << answer;
    }
}

TEST_F(ChecksTest, SpaceCheckIsSkippedSilentlyWhenItCannotBeMade) {
    PlaceImage(TextBytes("no package here"));
    world->disk.freeToCaller = 0;
    EXPECT_EQ(CheckDiskSpace(), 1);
    EXPECT_EQ(TotalInstallSize, 0u);

    TearDown();
    SetUp();
    PlaceInstaller({"T", 0, {Stored(PatternBytes(5000, 1))}});
    world->disk.freeToCaller = 0;
    world->fail.windowsDirectory = true;
    EXPECT_EQ(CheckDiskSpace(), 1);
    EXPECT_EQ(TotalInstallSize, 5000u);
    EXPECT_TRUE(world->boxes.empty());
}

TEST_F(ChecksTest, AsksBeforeReplacingAnInstalledSaver) {
    const char* question = "There is already a screen saver by the same name (";
    const struct {
        const char* installer;
        const char* installed; // in the Windows directory
        bool directory;
        int answer;
        int result;
        const char* named;    // in the question
        const char* hintName; // in the hint after No
    } cases[] = {
        {"MySaver.exe", "MYSAVER.SCR", false, IDYES, 1, "MySaver.SCR", nullptr},
        {"MySaver.exe", "MYSAVER.SCR", false, IDNO, 0, "MySaver.SCR", "MySaver.EXE"},
        {"MySaver.exe", "MYSAVER.SCR", true, IDNO, 0, "MySaver.SCR", "MySaver.EXE"},
        {"MySaver.exe", "MYSAVER.SCR", false, 0, 1, "MySaver.SCR", nullptr},
        // The file my.saver.exe installs is MY.SCR: it is looked for too.
        {"my.saver.exe", "MY.SCR", false, IDNO, 0, "MY.SCR", "my.saver.EXE"},
        {"my.saver.exe", "my.saver.SCR", false, IDYES, 1, "my.saver.SCR", nullptr},
        {"MySaver.exe", "OTHER.SCR", false, IDNO, 1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.installer) + " with " + c.installed);
        TearDown();
        SetUp();
        PlaceInstaller({"T", 0, {Stored(PatternBytes(10, 1))}}, c.installer);
        std::string installed = std::string("C:\\windows\\") + c.installed;
        if (c.directory)
            CreateDirectoryA(installed.c_str(), NULL);
        else
            host::PutFile(installed, PatternBytes(10, 2));
        world->answers = {c.answer, IDOK};
        EXPECT_EQ(CheckExistingSaver(host::Instance()), c.result);
        if (!c.named) {
            EXPECT_TRUE(world->boxes.empty());
            continue;
        }
        ASSERT_GE(world->boxes.size(), 1u);
        EXPECT_EQ(world->boxes[0].caption, "Replace Screen Saver?");
        EXPECT_EQ(world->boxes[0].style, UINT(MB_YESNO | MB_ICONQUESTION));
        EXPECT_EQ(world->boxes[0].text,
                  std::string(question) + c.named +
                      ") installed on your system.  Would you like to replace it?");
        ASSERT_EQ(world->boxes.size(), c.hintName ? 2u : 1u);
        if (c.hintName) {
            EXPECT_EQ(world->boxes[1].caption, "Rename Installer");
            EXPECT_EQ(world->boxes[1].style, UINT(MB_OK | MB_ICONINFORMATION));
            EXPECT_EQ(world->boxes[1].text,
                      std::string("If you would like to change the name of the .SCR file that "
                                  "would be installed on your system, simply change the "
                                  "installers file name (") +
                          c.hintName + ") and run it again.");
        }
    }
}

TEST_F(ChecksTest, ExistingSaverCheckGoesOnWhenQueriesFail) {
    PlaceInstaller({"T", 0, {Stored(PatternBytes(10, 1))}});
    host::PutFile("C:\\windows\\MYSAVER.SCR", PatternBytes(10, 2));
    world->answers = {IDNO};
    world->fail.moduleFileName = true;
    EXPECT_EQ(CheckExistingSaver(host::Instance()), 1);
    world->fail.moduleFileName = false;
    world->fail.windowsDirectory = true;
    EXPECT_EQ(CheckExistingSaver(host::Instance()), 1);
    EXPECT_TRUE(world->boxes.empty());
}

} // namespace
