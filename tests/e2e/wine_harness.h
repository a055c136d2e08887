// Runs a real installer under Wine, headless, with boxbot playing the user,
// and hands back what the user saw and what the run left in the prefix.
//
// Every run gets its own prefix: an overlay over the read-only template in a
// private mount namespace where the test may mount (root), else a copy of
// the template. The run's files stay readable until the WineRun is dropped.
#pragma once

#include "package/writer.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// One message box as boxbot saw it. Texts are unescaped; buttons read
// "1=OK,2=Cancel"; answer is the script's word, or "unscripted".
struct Box {
    std::string caption;
    std::string text;
    std::string buttons;
    std::string answer;
};

// The installation dialog (the one with a control 1001): caption, the text
// of that control, and its visible buttons, which should be none.
struct Dialog {
    std::string caption;
    std::string line;
    std::string buttons;
};

// Any other dialog, such as a saver's settings: the program it belongs to,
// the texts of its controls in order (an edit's or a list's between [ ]).
struct Form {
    std::string caption;
    std::string program;
    std::vector<std::string> controls;
    std::string buttons;
    std::string answer;
};

// A shown top-level window of a program run with RunProgram.
struct Window {
    std::string windowClass;
    std::string caption;
    std::string rect; // "x,y,w,h"
};

// What boxbot saw of one program and those it started.
struct BotLog {
    std::vector<Box> boxes;
    std::vector<Dialog> dialogs;
    std::vector<Form> forms;
    std::vector<Window> windows;
    std::vector<std::string> ended;         // "<program>\t<exit code>" of answered forms
    std::vector<std::string> startFailures; // boxbot could not start the program
    std::optional<int> exitCode;            // none when boxbot logged no EXIT
    bool told = false;                      // a key was pressed to end it
    bool killed = false;                    // it did not end when told
    bool timedOut = false;
    std::string log;        // boxbot's log as written
    std::string wineOutput; // what wine printed, for failure messages

    bool Unscripted() const;
    std::string Describe() const;
};

struct WineCase {
    std::string installerName = "MySaver.exe"; // placed in C:\Downloads
    pkg::PackageToWrite package;
    // A ready-made installer (from saverpack) run as it is instead of one
    // written from `package`; `package` still tells the expected results.
    std::vector<uint8_t> installer;
    std::vector<std::string> answers; // ok, cancel, yes, no, esc, close
    // Files to lay into the prefix before the run: Windows path, contents.
    std::vector<std::pair<std::string, std::string>> files;
    // Windows paths (of files laid above or of the template) to strip of
    // write bits. Wine running as root writes to them all the same.
    std::vector<std::string> readOnly;
    // A Windows directory to cover with an empty tmpfs of this many KiB
    // (needs root); 0 for none.
    std::string tmpfsDir;
    unsigned tmpfsKiB = 0;
    // The size of drive C: as its free-space queries see it: the prefix's
    // changes go to a tmpfs this large (needs root); 0 for the host's disk.
    unsigned driveMiB = 0;
    // Bytes cut off the end of the installer: a download cut short.
    size_t truncateBy = 0;
    // Three bytes flipped this far from the end: a damaged download.
    size_t damageFromEnd = 0;
    // Wine's graphics driver for the run instead of the template's null
    // one; "x11" without a display leaves Wine with none, so that no box can
    // be shown.
    std::string graphicsDriver;
    // How long to follow the programs the installer starts (the saver's
    // settings dialog) after it exits; 0 for not at all.
    unsigned lingerSeconds = 0;
    // Wine's debug channels for the run; what they print is in wineOutput.
    std::string wineDebug = "-all";
};

class Sandbox;

struct WineRun : BotLog {
    WineRun();
    WineRun(WineRun&&) noexcept;
    ~WineRun();

    // Host path of a Windows path on drive C, matched without regard to
    // case as Wine does; empty when it does not exist.
    std::string HostPath(const std::string& windowsPath) const;
    bool Exists(const std::string& windowsPath) const;
    std::optional<std::string> ReadFile(const std::string& windowsPath) const;
    // Names in a directory, as they lie on disk, sorted.
    std::vector<std::string> List(const std::string& windowsPath) const;
    // A value of a section of an ini file, as GetPrivateProfileString would
    // find it (names compared without regard to case).
    std::optional<std::string> IniValue(const std::string& windowsPath, const std::string& section,
                                        const std::string& key) const;
    // A string value from the user's registry hive, read after the
    // wineserver has saved it; key as in regedit ("Control Panel\\Desktop").
    std::optional<std::string> UserRegistryValue(const std::string& key,
                                                 const std::string& name) const;
    // Lines the probe saver wrote, one per start: "<command line>\t<path>".
    std::vector<std::string> ProbeStarts() const;
    // Runs a program in the same prefix after the installation, with
    // boxbot answering from `answers` and, when endAfterMs is not 0,
    // pressing a key in its windows after that long.
    BotLog RunProgram(const std::vector<std::string>& command,
                      const std::vector<std::string>& answers, unsigned endAfterMs) const;

    std::unique_ptr<Sandbox> sandbox;
};

// Where the pieces are: fixed at build time, unless the environment says
// otherwise (E2E_WIN32_DIR, E2E_TEMPLATE_DIR, E2E_WORK_DIR), as the
// emulated PC does for its own disk and memory.
std::string Win32BuildDir();
std::string TemplateDir();
std::string WorkDir();

// How many times slower than a native host Wine runs here: E2E_TIME_SCALE,
// else what the template's fixture measured (TemplateDir() + ".time-scale"),
// else 1. Every wait and deadline of a run is multiplied by it.
double TimeScale();
std::vector<uint8_t> ReadHostFile(const std::string& path);
std::vector<uint8_t> InstallerStub();
std::vector<uint8_t> ProbeSaver();
// A built file of the aquarium sample saver: aquarium.scr, sprites.bmp,
// background.bmp.
std::vector<uint8_t> AquariumFile(const std::string& name);

// Writes the package into the stub, lays the installer and the case's
// setup into a fresh prefix, runs it under boxbot and collects the result.
// Throws std::runtime_error when the run cannot be set up at all.
WineRun RunInstaller(const WineCase& wineCase);

// A Windows console program run under Wine in a fresh prefix, with
// `hostDir` as its current folder, so that relative paths in `arguments`
// name files there.
struct ProgramRun {
    int exitCode = -1;  // -1 when it did not end within the deadline
    std::string output; // stdout and stderr together, as wine printed them
};
ProgramRun RunWineProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& hostDir);

// Empty when Wine can run here; else why not, in one line: the caller's
// E2E_SKIP_REASON, or the line of scripts/can-run-32bit.
std::string WhyWineCannotRun();

// Whether tmpfs mounts are possible here (the test process is root and may
// make a mount namespace).
bool CanMount();

} // namespace e2e
