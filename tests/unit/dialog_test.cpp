// Extraction and activation, run through the whole installer on the
// stand-in of Windows.
#include "install/dialog.h"
#include "package/format.h"
#include "package/pe_checksum.h"
#include "tests/unit/test_support.h"

#include <cstring>

namespace {

const char kDataDirectory[] = "C:\\windows\\TORVANIX\\MOREVANE\\MySaver\\";
const char kWriteFailed[] = "Installation failed!\r\n\r\nThe file ";
const char kWriteFailedTail[] = " could not be written.  Check that the disk has room and that you "
                                "may write to the Windows directory.";
const char kPackageUnreadable[] =
    "Installation failed!\r\n\r\nThe installer could not read the screen saver stored inside it.  "
    "If it was downloaded, the download may be incomplete: please obtain a new copy.";

// abcdef three times over, as a compressed stream of nine bytes.
pkg::EntryToWrite CompressedAbcdef(std::string extension = "") {
    pkg::EntryToWrite e = Stored({0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0xD1, 0x02, 0x80}, extension);
    e.originalSize = 18;
    return e;
}

class DialogTest : public InstallerTest {
  protected:
    int Install(const pkg::PackageToWrite& package, const std::string& name = "MySaver.exe") {
        PlaceInstaller(package, name);
        return Run();
    }
    int Run() {
        world->answers = {IDOK, IDOK};
        return RunInstaller();
    }
    std::string LastBox() { return world->boxes.empty() ? "" : world->boxes.back().text; }
    void ExpectFailed(const std::string& text, int exitCode) {
        EXPECT_EQ(exitCode, 1);
        EXPECT_EQ(LastBox(), text);
        EXPECT_EQ(world->boxes.back().style, UINT(MB_OK | MB_ICONSTOP));
        EXPECT_TRUE(world->winExecs.empty());
        EXPECT_TRUE(world->profileWrites.empty());
        EXPECT_TRUE(world->screenSaverActive.empty());
        EXPECT_EQ(world->openHandles, 0);
    }
};

TEST_F(DialogTest, NamesAndNumbersTheDataFiles) {
    const struct {
        uint16_t first;
        std::vector<std::string> extensions; // of entries 2 and on
        std::vector<std::string> names;
    } cases[] = {
        {11, {".TXT", ".WAV"}, {"FILE0011.TXT", "FILE0012.WAV"}},
        {0, {".TXT"}, {"FILE0000.TXT"}},
        {65535, {".A", ".B"}, {"FILE65535.A", "FILE65536.B"}},
        {11, {std::string(".C\0\0", 4), std::string(4, '\0')}, {"FILE0011.C", "FILE0012"}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        pkg::PackageToWrite package{"T", c.first, {Stored(PatternBytes(10, 0), ".XYZ")}};
        package.entries.push_back(Stored(PatternBytes(11, 1), ".XYZ"));
        for (size_t i = 0; i < c.extensions.size(); ++i)
            package.entries.push_back(Stored(PatternBytes(12 + i, 2 + i), c.extensions[i]));
        EXPECT_EQ(Install(package), 0);
        EXPECT_EQ(FileAt("C:\\WINDOWS\\MYSAVER.SCR"), PatternBytes(10, 0));
        EXPECT_EQ(FileAt(std::string(kDataDirectory) + "MySaver.DAT"), PatternBytes(11, 1));
        for (size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(FileAt(kDataDirectory + c.names[i]), PatternBytes(12 + i, 2 + i))
                << c.names[i];
    }
}

TEST_F(DialogTest, OnlyTheSaverMakesNoDirectory) {
    EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(10, 0))}}), 0);
    EXPECT_TRUE(world->createdDirectories.empty());
    EXPECT_FALSE(host::Exists("C:\\windows\\TORVANIX"));
    EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), PatternBytes(10, 0));
}

TEST_F(DialogTest, CopiesStoredEntriesExactlyWithMorePackageBehindThem) {
    for (size_t size : {1u, 2047u, 2048u, 4096u, 4097u, 100000u}) {
        TearDown();
        SetUp();
        EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(size, 1)), Stored(PatternBytes(300, 2))}}),
                  0);
        EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), PatternBytes(size, 1)) << size;
        EXPECT_EQ(FileAt(std::string(kDataDirectory) + "MySaver.DAT"), PatternBytes(300, 2));
        for (const host::IoRecord& w : world->writes)
            EXPECT_LE(w.asked, 2048u);
    }
}

TEST_F(DialogTest, DecodesCompressedEntries) {
    EXPECT_EQ(Install({"T", 0, {CompressedAbcdef(), CompressedAbcdef(), CompressedAbcdef(".TXT")}}),
              0);
    std::vector<uint8_t> abcdef = TextBytes("abcdefabcdefabcdef");
    EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), abcdef);
    EXPECT_EQ(FileAt(std::string(kDataDirectory) + "MySaver.DAT"), abcdef);
    EXPECT_EQ(FileAt(std::string(kDataDirectory) + "FILE0000.TXT"), abcdef);
    EXPECT_EQ(world->openHandles, 0);
}

TEST_F(DialogTest, ActivatesTheSaverItWrote) {
    EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(10, 0))}}, "my.saver.exe"), 0);
    ASSERT_EQ(world->profileWrites.size(), 1u);
    const host::ProfileWrite& w = world->profileWrites[0];
    EXPECT_EQ(w.section, "boot");
    EXPECT_EQ(w.key, "SCRNSAVE.EXE");
    EXPECT_EQ(w.value, "C:\\windows\\MY.SCR"); // the stand-in's short form is the path itself
    EXPECT_EQ(w.file, "system.ini");
    EXPECT_EQ(world->screenSaverActive, std::vector<UINT>{1});
    EXPECT_EQ(world->dialogResult, IDOK);
}

TEST_F(DialogTest, NoActivationWithoutAShortPath) {
    world->fail.shortPathName = true;
    EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(10, 0))}}), 0);
    EXPECT_TRUE(world->profileWrites.empty());
    EXPECT_TRUE(world->screenSaverActive.empty());
    EXPECT_EQ(world->winExecs.size(), 1u);
}

TEST_F(DialogTest, ReplacesAnExistingFileWithoutAsking) {
    host::PutFile(std::string(kDataDirectory) + "MySaver.DAT", PatternBytes(5000, 9));
    EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(10, 0)), Stored(PatternBytes(20, 1))}}), 0);
    EXPECT_EQ(FileAt(std::string(kDataDirectory) + "MySaver.DAT"), PatternBytes(20, 1));
    EXPECT_EQ(world->boxes.size(), 2u);
}

TEST_F(DialogTest, FailuresAreToldAndStopTheInstallation) {
    const std::string saver = "C:\\WINDOWS\\MYSAVER.SCR";
    const std::string data = std::string(kDataDirectory) + "MySaver.DAT";
    const std::string file = std::string(kDataDirectory) + "FILE0000.TXT";
    const std::vector<uint8_t> old = PatternBytes(777, 42);
    const struct {
        const char* name;
        void (*arrange)(host::World&);
        std::vector<pkg::EntryToWrite> entries;
        size_t cutFromEnd; // bytes cut off the installer: a truncated download
        std::string message;
    } cases[] = {
        {"saver cannot be created",
         [](host::World& w) { w.fail.readOnly = {"C:\\WINDOWS\\~QELMNEW.TMP"}; },
         {Stored(PatternBytes(10, 0))},
         0,
         saver},
        {"read-only saver",
         [](host::World& w) { w.fail.readOnly = {"C:\\WINDOWS\\MYSAVER.SCR"}; },
         {Stored(PatternBytes(10, 0))},
         0,
         saver},
        {"full disk on a stored entry",
         [](host::World& w) { w.fail.writeBudget = 3000; },
         {Stored(PatternBytes(10, 0)), Stored(PatternBytes(5000, 1))},
         0,
         data},
        {"full disk on a compressed entry",
         [](host::World& w) { w.fail.writeBudget = 10 + 5; },
         {Stored(PatternBytes(10, 0)), CompressedAbcdef()},
         0,
         data},
        {"move refused",
         [](host::World& w) { w.fail.moveFile = true; },
         {Stored(PatternBytes(10, 0))},
         0,
         saver},
        {"no copy buffer",
         [](host::World& w) { w.fail.localAlloc = true; },
         {Stored(PatternBytes(10, 0))},
         0,
         saver},
        {"stored entry cut short",
         [](host::World&) {},
         {Stored(PatternBytes(10, 0)), Stored(PatternBytes(5000, 1))},
         100,
         ""},
        {"compressed entry cut short",
         [](host::World&) {},
         {Stored(PatternBytes(10, 0)), Stored(PatternBytes(1000, 1)), CompressedAbcdef(".TXT")},
         2,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        host::PutFile("C:\\windows\\MYSAVER.SCR", old);
        std::vector<uint8_t> image = pkg::WriteInstaller(Stub(), {"T", 0, c.entries});
        image.resize(image.size() - c.cutFromEnd);
        // Without a checksum, as another tool writes it, a cut-short copy
        // gets as far as the dialog.
        WriteLe32(&image[ReadLe32(&image[DosLfanewOffset]) + ChecksumFromLfanew], 0);
        PlaceImage(image);
        c.arrange(*world);
        world->answers = {IDYES, IDOK, IDOK};
        int exitCode = RunInstaller();
        ExpectFailed(c.message.empty() ? std::string(kPackageUnreadable)
                                       : kWriteFailed + c.message + kWriteFailedTail,
                     exitCode);
        // The installed saver survives whatever failed, and no file is left
        // half-written under any name.
        EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), old);
        EXPECT_FALSE(host::Exists("C:\\windows\\~QELMNEW.TMP"));
        EXPECT_FALSE(host::Exists(std::string(kDataDirectory) + "~QELMNEW.TMP"));
        EXPECT_FALSE(host::Exists(data) && c.message == data);
        EXPECT_FALSE(host::Exists(file));
    }
}

TEST_F(DialogTest, PathsThatDoNotFitAreFailures) {
    // The saver path fits in 260 characters; the data file's does not.
    world->windowsDirectory = "C:\\" + std::string(220, 'w');
    EXPECT_EQ(Install({"T", 0, {Stored(PatternBytes(10, 0)), Stored(PatternBytes(10, 1))}}), 1);
    EXPECT_EQ(LastBox().rfind(kWriteFailed, 0), 0u);
    EXPECT_NE(LastBox().find("TORVANIX"), std::string::npos);
    EXPECT_TRUE(world->winExecs.empty());
}

TEST_F(DialogTest, ADialogThatCannotBeMadeIsNoCompletion) {
    PlaceInstaller({"T", 0, {Stored(PatternBytes(10, 0))}});
    world->fail.dialog = true;
    ExpectFailed(std::string(kWriteFailed) + "MYSAVER.SCR" + kWriteFailedTail, Run());
    EXPECT_FALSE(host::Exists("C:\\windows\\MYSAVER.SCR"));
}

TEST_F(DialogTest, NoWindowsDirectoryIsAFailure) {
    PlaceInstaller({"T", 0, {Stored(PatternBytes(10, 0))}});
    world->fail.windowsDirectory = true;
    ExpectFailed(std::string(kWriteFailed) + "MYSAVER.SCR" + kWriteFailedTail, Run());
}

TEST_F(DialogTest, HandlesOnlyTheBareCommands) {
    HWND dialog = reinterpret_cast<HWND>(0x55);
    EXPECT_FALSE(InstallDialogProc(dialog, WM_COMMAND, (1u << 16) | IDOK, 0));
    EXPECT_FALSE(InstallDialogProc(dialog, WM_COMMAND, 3, 0));
    EXPECT_FALSE(InstallDialogProc(dialog, WM_CLOSE, 0, 0));
    EXPECT_EQ(world->dialogResult, 0);
}

TEST_F(DialogTest, CancelRunsTheSameInstallation) {
    PlaceInstaller({"T", 0, {Stored(PatternBytes(10, 0))}});
    ResetProgramState();
    strcpy(SaverFileName, "MYSAVER.SCR");
    HWND dialog = reinterpret_cast<HWND>(0x55);
    EXPECT_TRUE(InstallDialogProc(dialog, WM_COMMAND, IDCANCEL, 0));
    EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), PatternBytes(10, 0));
    EXPECT_EQ(world->screenSaverActive, std::vector<UINT>{1});
}

} // namespace
