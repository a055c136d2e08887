// The whole installer run natively: WinMain on the stand-in of Windows, with
// message boxes answered from a script.
#include "app/flow.h"
#include "package/format.h"
#include "package/pe_checksum.h"
#include "tests/unit/test_support.h"

namespace {

const char kConfirmTail[] =
    " and will make it your default Screen Saver.  This installation will take ";

class FlowTest : public InstallerTest {
  protected:
    pkg::PackageToWrite FishTank(std::string title = "Fish Tank   ") {
        return {title, 0, {Stored(PatternBytes(1234, 1)), Stored(PatternBytes(333, 2))}};
    }
};

TEST_F(FlowTest, ConfirmsInstallsReportsAndStartsTheSaver) {
    PlaceInstaller(FishTank());
    world->answers = {IDOK, IDOK};
    EXPECT_EQ(RunInstaller(), 0);

    ASSERT_EQ(world->boxes.size(), 2u);
    const host::MessageBoxRecord& confirm = world->boxes[0];
    EXPECT_EQ(confirm.caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(confirm.text,
              "This program will install MYSAVER.SCR (Fish Tank Screen Saver) to C:\\WINDOWS and "
              "will make it your default Screen Saver.  This installation will take 1,567 bytes.");
    EXPECT_EQ(confirm.style, UINT(MB_OKCANCEL | MB_ICONINFORMATION));

    const host::MessageBoxRecord& done = world->boxes[1];
    EXPECT_EQ(done.caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(done.text,
              "Installation Complete!\r\n\r\nData files have also been installed in your "
              "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER directory.");
    EXPECT_EQ(done.style, UINT(MB_OK | MB_ICONEXCLAMATION));

    EXPECT_EQ(world->winExecs, std::vector<std::string>{"\"C:\\windows\\MYSAVER.SCR\" show=5"});
    EXPECT_EQ(world->cursors, (std::vector<std::string>{"wait", "arrow"}));
    EXPECT_EQ(world->dialogTitle, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(world->dialogLine, "Fish Tank Screen Saver");
    EXPECT_EQ(FileAt("C:\\windows\\MYSAVER.SCR"), PatternBytes(1234, 1));
    EXPECT_EQ(world->openHandles, 0);
}

TEST_F(FlowTest, EndsWhetherOrNotTheRefusedWindowGetsWmDestroy) {
    for (bool sendsDestroy : {true, false}) {
        for (int answer : {IDOK, IDCANCEL}) {
            TearDown();
            SetUp();
            world->refusedCreationSendsDestroy = sendsDestroy;
            PlaceInstaller(FishTank());
            world->answers = {answer, IDOK};
            EXPECT_EQ(RunInstaller(), 0) << sendsDestroy << " " << answer;
        }
    }
}

// Only the user's yes installs. A box that cannot be shown, a queue that
// fails or a copy changed since it was made end with exit code 1 and leave
// nothing behind; none of them reads as the user's Cancel.
TEST_F(FlowTest, InstallsNothingWithoutAYesAndSaysWhenItCannotAsk) {
    const char damaged[] = "This installer is damaged. Download it again.";
    const struct {
        const char* name;
        int dataSize;       // odd and even, for the checksum's last word
        bool zeroChecksum;  // as another tool leaves it
        size_t flipFromEnd; // 3 bytes flipped this far from the end; 0 for none
        std::vector<int> answers;
        int exitCode;
        size_t boxes;
        const char* lastBox; // text of the last box; nullptr for the confirmation
        bool installed;
    } cases[] = {
        {"odd size", 333, false, 0, {IDOK, IDOK}, 0, 2, nullptr, true},
        {"even size", 334, false, 0, {IDOK, IDOK}, 0, 2, nullptr, true},
        {"confirmation failed as Wine fails it", 333, true, 0, {-1}, 1, 1, nullptr, false},
        {"damaged data", 333, false, 200, {IDOK, IDOK}, 1, 1, damaged, false},
        {"damaged directory", 333, false, 1567 + 20, {IDOK, IDOK}, 1, 1, damaged, false},
        {"damaged, checksum zero", 333, true, 200, {IDOK, IDOK}, 0, 2, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        std::vector<uint8_t> image = pkg::WriteInstaller(
            Stub(), {"Fish Tank   ",
                     0,
                     {Stored(PatternBytes(1234, 1)), Stored(PatternBytes(c.dataSize, 2))}});
        if (c.zeroChecksum)
            WriteLe32(&image[ReadLe32(&image[DosLfanewOffset]) + ChecksumFromLfanew], 0);
        for (size_t i = 0; c.flipFromEnd && i < 3; ++i)
            image[image.size() - c.flipFromEnd + i] ^= 0x5A;
        PlaceImage(image);
        world->answers = c.answers;
        EXPECT_EQ(RunInstaller(), c.exitCode);
        ASSERT_EQ(world->boxes.size(), c.boxes);
        const host::MessageBoxRecord& last = world->boxes.back();
        EXPECT_EQ(last.caption, "Fish Tank Screen Saver Installation");
        if (c.lastBox) {
            EXPECT_EQ(last.text, c.lastBox);
            EXPECT_EQ(last.style, UINT(MB_OK | MB_ICONSTOP));
        }
        EXPECT_EQ(world->winExecs.size(), c.installed ? 1u : 0u);
        EXPECT_EQ(host::Exists("C:\\windows\\MYSAVER.SCR"), c.installed);
        EXPECT_EQ(world->openHandles, 0);
    }
}

TEST_F(FlowTest, EndsWhenTheMessageQueueFails) {
    PlaceInstaller(FishTank());
    world->answers = {IDOK, IDOK};
    world->messageQueueFails = true;
    EXPECT_EQ(RunInstaller(), 1);
}

TEST_F(FlowTest, NamesFollowTheInstallersFileName) {
    const struct {
        const char* installer;
        const char* windows;
        const char* saver;
        const char* shownWindows;
        const char* dataDirectory;
    } cases[] = {
        {"MySaver.exe", "C:\\windows", "MYSAVER.SCR", "C:\\WINDOWS",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER"},
        {"mysaver.exe", "c:\\windows", "MYSAVER.SCR", "C:\\WINDOWS",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER"},
        {"my.saver.exe", "C:\\windows", "MY.SCR", "C:\\WINDOWS",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MY.SAVER"},
        {"MySaver.exe", "C:\\", "MYSAVER.SCR", "C:\\", "C:\\TORVANIX\\MOREVANE\\MYSAVER"},
        {"\xe9t\xe9.exe", "C:\\windows", "\xe9T\xe9.SCR", "C:\\WINDOWS",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\\xe9T\xe9"},
        {"My Saver.exe", "C:\\WINDOWS", "MY SAVER.SCR", "C:\\WINDOWS",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MY SAVER"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installer);
        TearDown();
        SetUp();
        world->windowsDirectory = c.windows;
        PlaceInstaller(FishTank(), c.installer);
        world->answers = {IDOK, IDOK};
        EXPECT_EQ(RunInstaller(), 0);
        ASSERT_EQ(world->boxes.size(), 2u);
        EXPECT_EQ(world->boxes[0].text, std::string("This program will install ") + c.saver +
                                            " (Fish Tank Screen Saver) to " + c.shownWindows +
                                            kConfirmTail + "1,567 bytes.");
        EXPECT_NE(world->boxes[1].text.find(std::string(" ") + c.dataDirectory + " directory."),
                  std::string::npos)
            << world->boxes[1].text;
        std::string windows = c.windows;
        if (windows.back() != '\\')
            windows += '\\';
        EXPECT_TRUE(host::Exists(windows + c.saver));
        // The saver just installed, by its full path: never a namesake that
        // the search for a bare name would find first.
        EXPECT_EQ(world->winExecs,
                  std::vector<std::string>{"\"" + windows + c.saver + "\" show=5"});
    }
}

// Before any box or dialog can make Windows load a DLL, DLLs may come from
// the system folder only; where the function for that is missing, the
// current folder at least leaves the search.
TEST_F(FlowTest, DllSearchIsRestrictedBeforeAnythingElse) {
    for (bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "without SetDefaultDllDirectories" : "with it");
        TearDown();
        SetUp();
        world->fail.noDefaultDllDirectories = missing;
        PlaceInstaller(FishTank());
        world->answers = {IDOK, IDOK};
        EXPECT_EQ(RunInstaller(), 0);
        const std::vector<std::string> first(
            world->calls.begin(), world->calls.begin() + std::min<size_t>(3, world->calls.size()));
        if (missing) {
            EXPECT_EQ(first, (std::vector<std::string>{"GetModuleHandleA", "GetProcAddress",
                                                       "SetDllDirectoryA"}));
            EXPECT_EQ(world->dllSearch, std::vector<std::string>{"SetDllDirectoryA \"\""});
        } else {
            EXPECT_EQ(first, (std::vector<std::string>{"GetModuleHandleA", "GetProcAddress",
                                                       "SetDefaultDllDirectories"}));
            EXPECT_EQ(world->dllSearch, std::vector<std::string>{"SetDefaultDllDirectories 0x800"});
        }
        EXPECT_EQ(world->boxes.size(), 2u);
    }
}

TEST_F(FlowTest, TitlesAreTrimmedOfBlanksOnly) {
    const struct {
        std::string title;
        std::string caption;
    } cases[] = {
        {"Fish Tank      ", "Fish Tank Screen Saver Installation"},
        {"     ", " Screen Saver Installation"},
        {"Tabbed  \t", "Tabbed  \t Screen Saver Installation"},
        {std::string(32, 'W'), std::string(32, 'W') + " Screen Saver Installation"},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        PlaceInstaller(FishTank(c.title));
        world->answers = {IDCANCEL};
        RunInstaller();
        ASSERT_EQ(world->boxes.size(), 1u);
        EXPECT_EQ(world->boxes[0].caption, c.caption);
    }
}

TEST_F(FlowTest, AnythingButOkOnTheConfirmationInstallsNothing) {
    // IDCANCEL is also what Esc and the close box give; 0 is a failed box,
    // which is no answer at all.
    for (int answer : {IDCANCEL, 0}) {
        TearDown();
        SetUp();
        PlaceInstaller(FishTank());
        world->answers = {answer};
        EXPECT_EQ(RunInstaller(), answer == IDCANCEL ? 0 : 1);
        EXPECT_EQ(world->boxes.size(), 1u);
        EXPECT_EQ(world->dialogRuns, 0);
        EXPECT_TRUE(world->winExecs.empty());
        EXPECT_FALSE(host::Exists("C:\\windows\\MYSAVER.SCR"));
        EXPECT_TRUE(world->cursors.empty());
    }
}

TEST_F(FlowTest, WithoutAPackageNothingIsInstalledAndTheUserIsTold) {
    PlaceImage(TextBytes("not an executable at all"));
    world->answers = {IDOK, IDOK};
    EXPECT_EQ(RunInstaller(), 1);
    ASSERT_EQ(world->boxes.size(), 2u);
    EXPECT_EQ(world->boxes[0].caption, " Screen Saver Installation");
    EXPECT_EQ(world->boxes[0].text, std::string("This program will install MYSAVER.SCR ( Screen "
                                                "Saver) to C:\\WINDOWS") +
                                        kConfirmTail + "0 bytes.");
    EXPECT_EQ(world->boxes[1].text,
              "Installation failed!\r\n\r\nThe installer could not read the screen saver stored "
              "inside it.  If it was downloaded, the download may be incomplete: please obtain a "
              "new copy.");
    EXPECT_EQ(world->boxes[1].style, UINT(MB_OK | MB_ICONSTOP));
    EXPECT_TRUE(world->winExecs.empty());
    EXPECT_TRUE(world->profileWrites.empty());
}

TEST_F(FlowTest, LongNamesAreBoundedAndNeverInstallACutPath) {
    // 200 + 80 characters cannot form a 260-character path: the texts are
    // cut at their buffers, the installation fails instead of writing
    // somewhere else.
    world->windowsDirectory = "C:\\" + std::string(200, 'w');
    std::string name = std::string(80, 'n') + ".exe";
    PlaceInstaller(FishTank(std::string(32, 'T')), name);
    world->answers = {IDOK, IDOK};
    EXPECT_EQ(RunInstaller(), 1);
    ASSERT_EQ(world->boxes.size(), 2u);
    EXPECT_LE(world->boxes[0].text.size(), 511u);
    EXPECT_EQ(world->boxes[1].text.rfind("Installation failed!\r\n\r\nThe file ", 0), 0u);
    EXPECT_TRUE(world->winExecs.empty());
    EXPECT_TRUE(world->profileWrites.empty());
}

} // namespace
