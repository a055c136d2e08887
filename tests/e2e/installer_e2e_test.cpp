// The real installer under Wine, as a user meets it: what the message boxes
// say, what each answer leads to, what lands on disk and what is started.
#include "decoder/codec.h"
#include "tests/e2e/wine_harness.h"

#include <gtest/gtest.h>

#include <numeric>
#include <ostream>

namespace {

using e2e::WineCase;
using e2e::WineRun;

// Wine's GetWindowsDirectoryA.
const std::string WindowsDir = "C:\\windows";

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

std::string Thousands(uint64_t v) {
    std::string digits = std::to_string(v), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string TrimBlanks(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// The installed saver's name: the installer's name cut before its first '.'.
std::string SaverFileFor(const std::string& installer) {
    return UpperAscii(installer.substr(0, installer.find('.')) + ".SCR");
}

// The name of the data directory and file: cut at the last '.', case kept.
std::string BaseNameFor(const std::string& installer) {
    return installer.substr(0, installer.rfind('.'));
}

std::string DataDirFor(const std::string& installer) {
    return WindowsDir + "\\TORVANIX\\MOREVANE\\" + BaseNameFor(installer);
}

uint32_t InstallSize(const pkg::PackageToWrite& p) {
    return std::accumulate(
        p.entries.begin(), p.entries.end(), 0u, [](uint32_t sum, const pkg::EntryToWrite& e) {
            return sum + (e.originalSize ? e.originalSize : (uint32_t)e.stored.size());
        });
}

std::string Caption(const std::string& title) {
    return TrimBlanks(title) + " Screen Saver Installation";
}

std::string ConfirmationText(const std::string& installer, const pkg::PackageToWrite& p) {
    return "This program will install " + SaverFileFor(installer) + " (" + TrimBlanks(p.title) +
           " Screen Saver) to " + UpperAscii(WindowsDir) +
           " and will make it your default Screen Saver.  This installation will take " +
           Thousands(InstallSize(p)) + " bytes.";
}

std::string CompletionText(const std::string& installer) {
    return "Installation Complete!\r\n\r\nData files have also been installed in your " +
           UpperAscii(DataDirFor(installer)) + " directory.";
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (uint8_t)(i * 31 + seed + (i >> 8));
    return bytes;
}

std::string AsText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The probe as saver, a data file, and one further file named from the
// first file number.
pkg::PackageToWrite SamplePackage(const std::string& title, size_t dataSize) {
    pkg::PackageToWrite p;
    p.title = title;
    p.firstFileNumber = 11;
    p.entries.push_back({e2e::ProbeSaver(), 0, ""});
    p.entries.push_back({Pattern(dataSize, 3), 0, ""});
    p.entries.push_back({Pattern(777, 9), 0, ".TXT"});
    return p;
}

void ExpectNothingInstalled(const WineRun& run, const std::string& installer) {
    EXPECT_FALSE(run.Exists(WindowsDir + "\\" + SaverFileFor(installer)));
    EXPECT_FALSE(run.Exists(WindowsDir + "\\TORVANIX"));
    EXPECT_FALSE(run.IniValue(WindowsDir + "\\system.ini", "boot", "SCRNSAVE.EXE"));
    EXPECT_NE(run.UserRegistryValue("Control Panel\\Desktop", "ScreenSaveActive"), "1");
    EXPECT_TRUE(run.ProbeStarts().empty());
}

void ExpectInstalledAndStarted(const WineRun& run, const std::string& installer,
                               const pkg::PackageToWrite& p) {
    const std::string saver = SaverFileFor(installer);
    const std::string dataDir = DataDirFor(installer);
    // On disk exactly as named, not just found by a case-blind lookup.
    const std::vector<std::string> windows = run.List(WindowsDir);
    EXPECT_NE(std::find(windows.begin(), windows.end(), saver), windows.end()) << saver;
    EXPECT_EQ(run.ReadFile(WindowsDir + "\\" + saver), AsText(p.entries[0].stored));
    EXPECT_EQ(run.List(dataDir),
              (std::vector<std::string>{"FILE0011.TXT", BaseNameFor(installer) + ".DAT"}));
    EXPECT_EQ(run.ReadFile(dataDir + "\\" + BaseNameFor(installer) + ".DAT"),
              AsText(p.entries[1].stored));
    EXPECT_EQ(run.ReadFile(dataDir + "\\FILE0011.TXT"), AsText(p.entries[2].stored));

    // A valid 8.3 name is its own short form, and Wine keeps its case.
    EXPECT_EQ(run.IniValue(WindowsDir + "\\system.ini", "boot", "SCRNSAVE.EXE"),
              WindowsDir + "\\" + saver);
    EXPECT_EQ(run.UserRegistryValue("Control Panel\\Desktop", "ScreenSaveActive"), "1");

    // Started once, by its full path with no arguments, from the Windows
    // directory.
    const std::vector<std::string> starts = run.ProbeStarts();
    ASSERT_EQ(starts.size(), 1u);
    const std::string expectedPath = WindowsDir + "\\" + saver;
    EXPECT_EQ(starts[0].substr(0, starts[0].find('\t')), "\"" + expectedPath + "\"");
    EXPECT_EQ(UpperAscii(starts[0].substr(starts[0].find('\t') + 1)), UpperAscii(expectedPath));
}

struct NamingCase {
    std::string installer;
    std::string saver;   // as the user reads it in the confirmation
    std::string dataDir; // as the user reads it in the completion message
};

std::ostream& operator<<(std::ostream& out, const NamingCase& c) {
    return out << c.installer;
}

class InstallerNames : public testing::TestWithParam<NamingCase> {};

TEST_P(InstallerNames, OkInstallsUnderTheNameTheBoxesAnnounce) {
    const NamingCase& c = GetParam();
    WineCase wc;
    wc.installerName = c.installer;
    wc.package = SamplePackage("Aquarium  ", 5000);
    wc.answers = {"ok", "ok"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].caption, Caption(wc.package.title));
    EXPECT_EQ(run.boxes[0].text, ConfirmationText(c.installer, wc.package));
    EXPECT_NE(run.boxes[0].text.find(" " + c.saver + " "), std::string::npos);
    EXPECT_EQ(run.boxes[0].buttons, "1=OK,2=Cancel");
    EXPECT_EQ(run.boxes[1].caption, Caption(wc.package.title));
    EXPECT_EQ(run.boxes[1].text, CompletionText(c.installer));
    EXPECT_NE(run.boxes[1].text.find(" " + c.dataDir + " "), std::string::npos);
    EXPECT_EQ(run.boxes[1].buttons, "1=OK");
    // The dialog may come and go between two looks; when seen, it is right.
    for (const e2e::Dialog& d : run.dialogs) {
        EXPECT_EQ(d.caption, Caption(wc.package.title));
        EXPECT_EQ(d.line, TrimBlanks(wc.package.title) + " Screen Saver");
        EXPECT_EQ(d.buttons, "");
    }
    ExpectInstalledAndStarted(run, c.installer, wc.package);
}

INSTANTIATE_TEST_SUITE_P(Wine, InstallerNames,
                         testing::Values(NamingCase{"MySaver.exe", "MYSAVER.SCR",
                                                    "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER"},
                                         NamingCase{"mysaver.exe", "MYSAVER.SCR",
                                                    "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER"},
                                         NamingCase{"my.saver.exe", "MY.SCR",
                                                    "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MY.SAVER"}),
                         [](const testing::TestParamInfo<NamingCase>& info) {
                             std::string name;
                             for (char ch : info.param.installer)
                                 name += isalnum((unsigned char)ch) ? ch : '_';
                             return name;
                         });

// A namesake of the saver downloaded beside the installer is found first by
// a search for the bare name; the saver that starts must be the one just
// installed.
TEST(InstallerHardening, StartsTheInstalledSaverNotANamesakeInTheDownloadFolder) {
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 2000);
    const std::string probe = AsText(e2e::ProbeSaver());
    wc.files = {{"C:\\Downloads\\MYSAVER.SCR", probe}};
    wc.answers = {"ok", "ok"};
    // Wine loads its own DLLs whatever a download folder holds, so a planted
    // DLL proves nothing here; the trace shows that the search is restricted.
    wc.wineDebug = "-all,+relay";
    WineRun run = e2e::RunInstaller(wc);

    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_NE(run.wineOutput.find("SetDefaultDllDirectories(00000800)"), std::string::npos);
    run.wineOutput.clear(); // too long to be of use in a message
    SCOPED_TRACE(run.Describe());
    ExpectInstalledAndStarted(run, wc.installerName, wc.package);
}

// The example a user of "Fish Tank" sees, word for word; its data file is big
// enough that the installation dialog stands long enough to be seen.
TEST(InstallerTexts, FishTankReadsExactly) {
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 0);
    const uint32_t others = InstallSize(wc.package);
    wc.package.entries[1].stored = Pattern(1234567 - others, 5);
    wc.answers = {"ok", "ok"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(run.boxes[0].text,
              "This program will install MYSAVER.SCR (Fish Tank Screen Saver) to C:\\WINDOWS and "
              "will make it your default Screen Saver.  This installation will take 1,234,567 "
              "bytes.");
    EXPECT_EQ(run.boxes[1].caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(run.boxes[1].text, "Installation Complete!\r\n\r\nData files have also been "
                                 "installed in your C:\\WINDOWS\\TORVANIX\\MOREVANE\\MYSAVER "
                                 "directory.");
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0].caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(run.dialogs[0].line, "Fish Tank Screen Saver");
    EXPECT_EQ(run.dialogs[0].buttons, "") << "its OK and Cancel only carry commands";
    ExpectInstalledAndStarted(run, "MySaver.exe", wc.package);
}

struct RefusalCase {
    std::string name;
    std::string answer;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) {
    return out << c.answer;
}

class ConfirmationRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(ConfirmationRefused, InstallsNothingAndExitsZero) {
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 2000);
    wc.answers = {GetParam().answer};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, ConfirmationText("MySaver.exe", wc.package));
    EXPECT_TRUE(run.dialogs.empty());
    ExpectNothingInstalled(run, "MySaver.exe");
}

INSTANTIATE_TEST_SUITE_P(Wine, ConfirmationRefused,
                         testing::Values(RefusalCase{"Cancel", "cancel"}, RefusalCase{"Esc", "esc"},
                                         RefusalCase{"CloseBox", "close"}),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                             return info.param.name;
                         });

// A saver of the installer's name is already there: the question names it
// in the installer's letter case; No leaves it alone after the renaming hint,
// Yes replaces it.
struct ExistingCase {
    std::string answer;
    bool replaced;
};

std::ostream& operator<<(std::ostream& out, const ExistingCase& c) {
    return out << c.answer;
}

class ExistingSaver : public testing::TestWithParam<ExistingCase> {};

TEST_P(ExistingSaver, AsksBeforeReplacing) {
    const ExistingCase& c = GetParam();
    const std::string installer = "MySaver.exe";
    const std::string old = "an older saver";
    WineCase wc;
    wc.installerName = installer;
    wc.package = SamplePackage("Fish Tank", 3000);
    wc.files = {{WindowsDir + "\\" + SaverFileFor(installer), old}};
    wc.answers = c.replaced ? std::vector<std::string>{c.answer, "ok", "ok"}
                            : std::vector<std::string>{c.answer, "ok"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.boxes.size(), 2u);
    const std::string name = BaseNameFor(installer) + ".SCR";
    EXPECT_EQ(run.boxes[0].caption, "Replace Screen Saver?");
    EXPECT_EQ(run.boxes[0].text, "There is already a screen saver by the same name (" + name +
                                     ") installed on your system.  Would you like to replace it?");
    EXPECT_EQ(run.boxes[0].buttons, "6=&Yes,7=&No");
    if (c.replaced) {
        ASSERT_EQ(run.boxes.size(), 3u);
        EXPECT_EQ(run.boxes[1].text, ConfirmationText(installer, wc.package));
        ExpectInstalledAndStarted(run, installer, wc.package);
    } else {
        ASSERT_EQ(run.boxes.size(), 2u);
        EXPECT_EQ(run.boxes[1].caption, "Rename Installer");
        EXPECT_EQ(run.boxes[1].text,
                  "If you would like to change the name of the .SCR file that would be installed "
                  "on your system, simply change the installers file name (" +
                      BaseNameFor(installer) + ".EXE) and run it again.");
        EXPECT_EQ(run.ReadFile(WindowsDir + "\\" + SaverFileFor(installer)), old);
        EXPECT_TRUE(run.ProbeStarts().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Wine, ExistingSaver,
                         testing::Values(ExistingCase{"no", false}, ExistingCase{"yes", true}),
                         [](const testing::TestParamInfo<ExistingCase>& info) {
                             return info.param.answer;
                         });

// What the user reads when a file cannot be written.
std::string WriteFailedText(const std::string& path) {
    return "Installation failed!\r\n\r\nThe file " + path +
           " could not be written.  Check that the disk has room and that you may write to the "
           "Windows directory.";
}

struct FailureCase {
    std::string name;
    bool oldSaver; // an older MYSAVER.SCR is installed
    bool oldSaverReadOnly;
    std::string tmpfsDir; // 64 KiB over it
    size_t dataSize;
    size_t truncateBy;
    std::string message;
    size_t damageFromEnd = 0;
};

const char DamagedText[] = "This installer is damaged. Download it again.";

std::ostream& operator<<(std::ostream& out, const FailureCase& c) {
    return out << c.name;
}

class InstallationFails : public testing::TestWithParam<FailureCase> {};

// A failed installation is told, ends with exit code 1, activates and starts
// nothing, and leaves an installed saver as it was.
TEST_P(InstallationFails, IsToldAndLeavesTheOldSaver) {
    const FailureCase& c = GetParam();
    if ((!c.tmpfsDir.empty()) && !e2e::CanMount())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here: the full disk is not tested";
    const std::string installer = "MySaver.exe";
    const std::string saverPath = WindowsDir + "\\MYSAVER.SCR";
    const std::string old = "an older saver";
    WineCase wc;
    wc.installerName = installer;
    wc.package = SamplePackage("Fish Tank", c.dataSize);
    if (c.oldSaver)
        wc.files = {{saverPath, old}};
    if (c.oldSaverReadOnly)
        wc.readOnly = {saverPath};
    wc.tmpfsDir = c.tmpfsDir;
    wc.tmpfsKiB = c.tmpfsDir.empty() ? 0 : 64;
    wc.truncateBy = c.truncateBy;
    wc.damageFromEnd = c.damageFromEnd;
    // A damaged copy says so before it asks anything.
    wc.answers = c.message == DamagedText ? std::vector<std::string>{"ok"}
                 : c.oldSaver             ? std::vector<std::string>{"yes", "ok", "ok"}
                                          : std::vector<std::string>{"ok", "ok"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 1);
    ASSERT_FALSE(run.boxes.empty());
    const e2e::Box& last = run.boxes.back();
    EXPECT_EQ(last.caption, "Fish Tank Screen Saver Installation");
    EXPECT_EQ(last.text, c.message);
    EXPECT_EQ(last.buttons, "1=OK");
    EXPECT_FALSE(run.Unscripted());

    if (c.oldSaver) {
        EXPECT_EQ(run.ReadFile(saverPath), old);
    } else {
        EXPECT_FALSE(run.Exists(saverPath));
    }
    EXPECT_FALSE(run.Exists(WindowsDir + "\\~QELMNEW.TMP"));
    for (const std::string& name : run.List(DataDirFor(installer)))
        EXPECT_NE(name, "~QELMNEW.TMP");
    EXPECT_FALSE(run.IniValue(WindowsDir + "\\system.ini", "boot", "SCRNSAVE.EXE"));
    EXPECT_NE(run.UserRegistryValue("Control Panel\\Desktop", "ScreenSaveActive"), "1");
    EXPECT_TRUE(run.ProbeStarts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Wine, InstallationFails,
    testing::Values(
        FailureCase{"ReadOnlySaver", true, true, "", 3000, 0,
                    WriteFailedText("C:\\WINDOWS\\MYSAVER.SCR")},
        FailureCase{"FullDisk", true, false, "C:\\windows\\TORVANIX", 200000, 0,
                    WriteFailedText("C:\\windows\\TORVANIX\\MOREVANE\\MySaver\\MySaver.DAT")},
        FailureCase{"FullDiskNoOldSaver", false, false, "C:\\windows\\TORVANIX", 200000, 0,
                    WriteFailedText("C:\\windows\\TORVANIX\\MOREVANE\\MySaver\\MySaver.DAT")},
        FailureCase{"DownloadCutShort", true, false, "", 3000, 100, DamagedText},
        FailureCase{"DownloadDamaged", true, false, "", 3000, 0, DamagedText, 200}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// A confirmation that cannot be shown at all is no answer: nothing is
// installed, and the exit code does not read as the user's Cancel.
TEST(ConfirmationNotShown, InstallsNothingAndEndsWithOne) {
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 3000);
    wc.graphicsDriver = "x11";
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.boxes.empty());
    ExpectNothingInstalled(run, wc.installerName);
}

class SpaceWarning : public testing::TestWithParam<std::string> {};

// Declared sizes near 4 GiB on a 64 MiB drive: the warning names both
// figures; Cancel installs nothing, OK goes on to the confirmation.
TEST_P(SpaceWarning, ShowsTheFiguresAndCancelInstallsNothing) {
    if (!e2e::CanMount())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here: the space warning is not tested";
    const std::string answer = GetParam();
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 1000);
    wc.package.entries[1].originalSize = 0xFFF00000u; // a huge data file, as declared
    wc.driveMiB = 64;
    wc.answers = answer == "ok" ? std::vector<std::string>{"ok", "cancel"}
                                : std::vector<std::string>{"cancel"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), answer == "ok" ? 2u : 1u);
    const e2e::Box& warning = run.boxes[0];
    EXPECT_EQ(warning.caption, "Disk Full");
    EXPECT_EQ(warning.buttons, "1=OK,2=Cancel");
    const std::string head = "You will need " + Thousands(InstallSize(wc.package) >> 10) +
                             " kilobytes free in your Windows directory to install this screen "
                             "saver.  It appears that you only have ";
    const std::string tail =
        " kilobytes free on this drive.  Would you like to continue the installation?";
    ASSERT_EQ(warning.text.rfind(head, 0), 0u);
    ASSERT_GT(warning.text.size(), head.size() + tail.size());
    ASSERT_EQ(warning.text.substr(warning.text.size() - tail.size()), tail);
    std::string available =
        warning.text.substr(head.size(), warning.text.size() - head.size() - tail.size());
    available.erase(std::remove(available.begin(), available.end(), ','), available.end());
    EXPECT_GT(std::stoul(available), 0u);
    EXPECT_LE(std::stoul(available), 64u * 1024);
    if (answer == "ok") {
        EXPECT_EQ(run.boxes[1].text, ConfirmationText(wc.installerName, wc.package));
    }
    ExpectNothingInstalled(run, wc.installerName);
}

INSTANTIATE_TEST_SUITE_P(Wine, SpaceWarning, testing::Values("cancel", "ok"));

// Compressed entries go through the installer's decoder: the saver itself,
// a data file of many tree rebuilds and a further file, all restored exactly.
TEST(CompressedPackage, InstallsEveryFileExactly) {
    WineCase wc;
    wc.package = SamplePackage("Fish Tank", 300000);
    std::vector<std::vector<uint8_t>> originals;
    for (pkg::EntryToWrite& e : wc.package.entries) {
        originals.push_back(e.stored);
        e.originalSize = (uint32_t)e.stored.size();
        e.stored = EncodeStream(e.stored, Level::Best);
        ASSERT_LT(e.stored.size(), originals.back().size());
    }
    wc.answers = {"ok", "ok"};
    WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].text, ConfirmationText(wc.installerName, wc.package));
    EXPECT_EQ(run.boxes[1].text, CompletionText(wc.installerName));
    pkg::PackageToWrite asStored = wc.package;
    for (size_t i = 0; i < originals.size(); ++i)
        asStored.entries[i] = {originals[i], 0, wc.package.entries[i].extension};
    ExpectInstalledAndStarted(run, wc.installerName, asStored);
}

} // namespace
