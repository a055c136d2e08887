#include "tests/e2e/wine_harness.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

namespace {

// A hung installer is reported with its log instead of being left to the
// test runner's timeout, which would lose it. Seconds at native speed.
const int RunDeadlineSeconds = 30;

int Scaled(int seconds) {
    return (int)(seconds * TimeScale() + 0.5);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), (std::streamsize)size);
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// "C:\windows\system.ini" -> {"windows", "system.ini"}; only drive C exists.
std::vector<std::string> DriveCComponents(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':' || (windowsPath[0] | 0x20) != 'c')
        throw std::invalid_argument("not a path on drive C: " + windowsPath);
    std::vector<std::string> parts;
    for (const std::string& p : Split(windowsPath.substr(2), '\\'))
        if (!p.empty())
            parts.push_back(p);
    return parts;
}

struct Command {
    std::vector<std::string> argv;
    fs::path cwd;
    fs::path output; // stdout and stderr, appended
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::string> unset;
};

// Runs a command; returns its exit status, or -1 when it outlived the
// deadline (the caller then knows what to kill).
int Run(const Command& cmd, int deadlineSeconds) {
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + strerror(errno));
    if (pid == 0) {
        if (!cmd.cwd.empty() && chdir(cmd.cwd.c_str()) != 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(cmd.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        for (const auto& [k, v] : cmd.env)
            setenv(k.c_str(), v.c_str(), 1);
        for (const std::string& k : cmd.unset)
            unsetenv(k.c_str());
        std::vector<char*> args;
        for (const std::string& a : cmd.argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            throw std::runtime_error(std::string("waitpid: ") + strerror(errno));
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Once per process: mounts made from here on stay in this process and its
// children and vanish with them.
bool EnterMountNamespace() {
    static const bool entered = [] {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0)
            return false;
        return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    return entered;
}

std::string ZPath(const fs::path& host) {
    std::string s = "Z:" + fs::absolute(host).string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

} // namespace

class Sandbox {
  public:
    explicit Sandbox(unsigned driveMiB) {
        fs::create_directories(WorkDir());
        std::string pattern = (fs::path(WorkDir()) / "run-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp in " + WorkDir() + ": " + strerror(errno));
        dir = pattern;
        prefix = dir / "prefix";
        fs::create_directories(prefix);
        if (!fs::exists(fs::path(TemplateDir()) / ".e2e-ready"))
            throw std::runtime_error("no Wine prefix template in " + TemplateDir() +
                                     " (made by the test e2e_wine_template)");
        if (driveMiB && !MountOverlay(driveMiB))
            throw std::runtime_error("a drive of a given size needs root and a mount namespace");
        if (!driveMiB && !MountOverlay(0)) {
            Command copy{
                {"cp", "-a", TemplateDir() + "/.", prefix.string()}, {}, dir / "cp.out", {}, {}};
            if (Run(copy, Scaled(120)) != 0)
                throw std::runtime_error("cannot copy the template: " + ReadText(dir / "cp.out"));
        }
    }

    ~Sandbox() {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
            umount2(it->c_str(), MNT_DETACH);
        std::error_code ec;
        if (!getenv("E2E_KEEP"))
            fs::remove_all(dir, ec);
    }

    // The host path for a Windows path: existing components matched
    // without regard to case, missing ones taken as written.
    fs::path Resolve(const std::string& windowsPath, bool* exists = nullptr) const {
        fs::path p = prefix / "drive_c";
        bool found = true;
        for (const std::string& part : DriveCComponents(windowsPath)) {
            fs::path next = p / part;
            if (found && !fs::exists(next)) {
                found = false;
                std::error_code ec;
                for (const auto& e : fs::directory_iterator(p, ec))
                    if (SameNoCase(e.path().filename().string(), part)) {
                        next = e.path();
                        found = true;
                    }
            }
            p = next;
        }
        if (exists)
            *exists = found;
        return p;
    }

    void MountTmpfs(const std::string& windowsPath, unsigned kib) {
        if (!EnterMountNamespace())
            throw std::runtime_error("a tmpfs needs root and a private mount namespace");
        fs::path where = Resolve(windowsPath);
        fs::create_directories(where);
        std::string opts = "size=" + std::to_string(kib) + "k";
        if (mount("tmpfs", where.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            throw std::runtime_error("mount tmpfs on " + where.string() + ": " + strerror(errno));
        mounts.push_back(where);
    }

    fs::path dir;
    fs::path prefix;
    std::vector<fs::path> mounts;

  private:
    // An overlay reports the free space of its upper layer: a tmpfs there
    // gives drive C: the size asked for.
    bool MountOverlay(unsigned driveMiB) {
        if (!EnterMountNamespace())
            return false;
        fs::path layer = dir;
        if (driveMiB) {
            layer = dir / "drive";
            fs::create_directories(layer);
            std::string size = "size=" + std::to_string(driveMiB) + "m";
            if (mount("tmpfs", layer.c_str(), "tmpfs", 0, size.c_str()) != 0)
                return false;
            mounts.push_back(layer);
        }
        fs::create_directories(layer / "upper");
        fs::create_directories(layer / "work");
        std::string opts = "lowerdir=" + TemplateDir() + ",upperdir=" + (layer / "upper").string() +
                           ",workdir=" + (layer / "work").string();
        if (mount("overlay", prefix.c_str(), "overlay", 0, opts.c_str()) != 0)
            return false;
        mounts.push_back(prefix);
        return true;
    }
};

WineRun::WineRun() = default;
WineRun::WineRun(WineRun&&) noexcept = default;
WineRun::~WineRun() = default;

bool BotLog::Unscripted() const {
    for (const Box& b : boxes)
        if (b.answer == "unscripted")
            return true;
    return false;
}

std::string WineRun::HostPath(const std::string& windowsPath) const {
    bool exists = false;
    fs::path p = sandbox->Resolve(windowsPath, &exists);
    return exists ? p.string() : std::string();
}

bool WineRun::Exists(const std::string& windowsPath) const {
    return !HostPath(windowsPath).empty();
}

std::optional<std::string> WineRun::ReadFile(const std::string& windowsPath) const {
    std::string p = HostPath(windowsPath);
    if (p.empty() || !fs::is_regular_file(p))
        return std::nullopt;
    return ReadText(p);
}

std::vector<std::string> WineRun::List(const std::string& windowsPath) const {
    std::vector<std::string> names;
    std::string p = HostPath(windowsPath);
    std::error_code ec;
    if (!p.empty())
        for (const auto& e : fs::directory_iterator(p, ec))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> WineRun::IniValue(const std::string& windowsPath,
                                             const std::string& section,
                                             const std::string& key) const {
    std::optional<std::string> text = ReadFile(windowsPath);
    if (!text)
        return std::nullopt;
    bool inSection = false;
    for (std::string line : Split(*text, '\n')) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inSection = SameNoCase(line, "[" + section + "]");
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        if (SameNoCase(name, key))
            return line.substr(eq + 1);
    }
    return std::nullopt;
}

std::optional<std::string> WineRun::UserRegistryValue(const std::string& key,
                                                      const std::string& name) const {
    std::string hive = ReadText(sandbox->prefix / "user.reg");
    // The hive doubles backslashes in key names and escapes them in values.
    std::string header;
    for (char c : key)
        header += c == '\\' ? std::string("\\\\") : std::string(1, c);
    header = "[" + header + "]";
    bool inKey = false;
    for (std::string line : Split(hive, '\n')) {
        if (!line.empty() && line.front() == '[') {
            inKey = SameNoCase(line.substr(0, header.size()), header) &&
                    (line.size() == header.size() || line[header.size()] == ' ');
            continue;
        }
        std::string quoted = "\"" + name + "\"=\"";
        if (inKey && SameNoCase(line.substr(0, quoted.size()), quoted) && line.back() == '"')
            return Unescape(line.substr(quoted.size(), line.size() - quoted.size() - 1));
    }
    return std::nullopt;
}

std::vector<std::string> WineRun::ProbeStarts() const {
    std::vector<std::string> lines;
    std::optional<std::string> text = ReadFile("C:\\probe-started.txt");
    if (text)
        for (std::string line : Split(*text, '\n')) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                lines.push_back(line);
        }
    return lines;
}

std::string BotLog::Describe() const {
    std::string s = "boxbot log:\n" + log;
    if (timedOut)
        s += "(the run did not end within " + std::to_string(Scaled(RunDeadlineSeconds)) + " s)\n";
    if (!wineOutput.empty())
        s += "wine printed:\n" + wineOutput;
    return s;
}

// The environment may point at another build of the Windows programs, such
// as an installer built with a change under trial.
std::string Win32BuildDir() {
    const char* dir = getenv("E2E_WIN32_DIR");
    return dir && *dir ? dir : E2E_WIN32_DIR;
}
namespace {
std::string FromEnvironment(const char* name, const char* otherwise) {
    const char* value = getenv(name);
    return value && *value ? value : otherwise;
}
} // namespace

std::string TemplateDir() {
    return FromEnvironment("E2E_TEMPLATE_DIR", E2E_TEMPLATE_DIR);
}
std::string WorkDir() {
    return FromEnvironment("E2E_WORK_DIR", E2E_WORK_DIR);
}

double TimeScale() {
    static const double scale = [] {
        std::string text = FromEnvironment("E2E_TIME_SCALE", "");
        if (text.empty())
            text = ReadText(TemplateDir() + ".time-scale");
        char* end = nullptr;
        double value = strtod(text.c_str(), &end);
        return end != text.c_str() && value >= 1 ? value : 1.0;
    }();
    return scale;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path + " (run make win32)");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> InstallerStub() {
    return ReadHostFile(Win32BuildDir() + "/installer.exe");
}
std::vector<uint8_t> ProbeSaver() {
    return ReadHostFile(Win32BuildDir() + "/probe_saver.exe");
}
std::vector<uint8_t> AquariumFile(const std::string& name) {
    return ReadHostFile(Win32BuildDir() + "/aquarium/" + name);
}

bool CanMount() {
    return EnterMountNamespace();
}

std::string WhyWineCannotRun() {
    std::string reason = FromEnvironment("E2E_SKIP_REASON", "");
    if (!reason.empty())
        return reason;
    FILE* probe = popen(E2E_PROBE " 2>&1", "r");
    if (!probe)
        return "cannot run " E2E_PROBE;
    char line[512] = "";
    if (!fgets(line, sizeof line, probe))
        line[0] = '\0';
    if (pclose(probe) == 0)
        return "";
    reason = line;
    while (!reason.empty() && reason.back() == '\n')
        reason.pop_back();
    return reason + "; make test runs the Wine tests in the emulated PC";
}

namespace {

// Where no Wine can run, every case is skipped with the reason, never
// passed and never failed on a cause that lies outside the installer;
// unless E2E_REQUIRE_WINE says that this host is there to run them.
class WineHostEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string reason = WhyWineCannotRun();
        if (reason.empty())
            return;
        if (!FromEnvironment("E2E_REQUIRE_WINE", "").empty())
            FAIL() << "Wine cannot run here: " << reason;
        GTEST_SKIP() << "Wine tests skipped: " << reason;
    }
};

[[maybe_unused]] const ::testing::Environment* const wineHost =
    ::testing::AddGlobalTestEnvironment(new WineHostEnvironment);

} // namespace

namespace {

void ParseLog(BotLog* out) {
    for (std::string line : Split(out->log, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f = Split(line, '\t');
        if (f[0] == "BOX" && f.size() >= 5)
            out->boxes.push_back({Unescape(f[1]), Unescape(f[2]), f[3], f[4]});
        else if (f[0] == "DIALOG" && f.size() >= 4)
            out->dialogs.push_back({Unescape(f[1]), Unescape(f[2]), f[3]});
        else if (f[0] == "FORM" && f.size() >= 6)
            out->forms.push_back(
                {Unescape(f[1]), Unescape(f[2]), Split(Unescape(f[3]), '\n'), f[4], f[5]});
        else if (f[0] == "WINDOW" && f.size() >= 4)
            out->windows.push_back({Unescape(f[1]), Unescape(f[2]), f[3]});
        else if (f[0] == "ENDED" && f.size() >= 3)
            out->ended.push_back(Unescape(f[1]) + "\t" + f[2]);
        else if (f[0] == "TOLD")
            out->told = true;
        else if (f[0] == "KILLED")
            out->killed = true;
        else if (f[0] == "EXIT" && f.size() >= 2)
            out->exitCode = (int)std::stoll(f[1]);
        else if (f[0] == "START-FAILED")
            out->startFailures.push_back(line);
    }
}

// A command in the sandbox's prefix, headless (no display to reach), with
// Wine's debug channels as given.
Command InPrefix(const Sandbox& box, std::vector<std::string> argv, const fs::path& cwd,
                 const fs::path& output, const std::string& wineDebug) {
    // boxbot scales its own waits by what it finds in the environment.
    char scale[32];
    snprintf(scale, sizeof scale, "%.2f", TimeScale());
    return Command{std::move(argv),
                   cwd,
                   output,
                   {{"WINEPREFIX", box.prefix.string()},
                    {"WINEARCH", "win32"},
                    {"WINEDEBUG", wineDebug},
                    // A crash ends the program at once, with Wine's line
                    // saying where, instead of waiting in the debugger for
                    // the run's deadline.
                    {"WINEDLLOVERRIDES", "winedbg.exe=d"},
                    {"E2E_TIME_SCALE", scale}},
                   {"DISPLAY", "WAYLAND_DISPLAY"}};
}

// Runs boxbot with its options and the command in the sandbox's prefix,
// waits for the prefix's server to end and reads the log.
void RunBoxbot(const Sandbox& box, const std::string& name, const std::vector<std::string>& options,
               const std::vector<std::string>& command, const fs::path& cwd,
               const std::string& wineDebug, BotLog* out) {
    const std::string boxbot = Win32BuildDir() + "/boxbot.exe";
    if (!fs::exists(boxbot))
        throw std::runtime_error("no " + boxbot + " (run make win32)");
    const fs::path output = box.dir / (name + ".out");
    const fs::path log = box.dir / (name + ".log");
    auto wine = [&](std::vector<std::string> argv) {
        return InPrefix(box, std::move(argv), cwd, output, wineDebug);
    };
    std::vector<std::string> argv = {"wine", boxbot};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(ZPath(box.dir / "script.txt"));
    argv.push_back(ZPath(log));
    argv.insert(argv.end(), command.begin(), command.end());
    // Started first with no grace period, so that it ends as soon as the
    // last program does and the wait below is short.
    Run(wine({"wineserver", "-p0"}), Scaled(30));
    int status = Run(wine(argv), Scaled(RunDeadlineSeconds));
    if (status == 127)
        throw std::runtime_error("cannot run wine: " + ReadText(output));
    if (status < 0) {
        out->timedOut = true;
        Run(wine({"wineserver", "-k"}), Scaled(30));
    }
    // The registry reaches user.reg only when the server exits.
    Run(wine({"wineserver", "-w"}), Scaled(60));
    out->log = ReadText(log);
    out->wineOutput = ReadText(output);
    ParseLog(out);
}

void WriteScript(const Sandbox& box, const std::vector<std::string>& answers) {
    std::string script;
    for (const std::string& a : answers)
        script += a + "\n";
    WriteBytes(box.dir / "script.txt", script.data(), script.size());
}

} // namespace

BotLog WineRun::RunProgram(const std::vector<std::string>& command,
                           const std::vector<std::string>& answers, unsigned endAfterMs) const {
    WriteScript(*sandbox, answers);
    std::vector<std::string> options;
    if (endAfterMs)
        options = {"--end-after", std::to_string((unsigned)(endAfterMs * TimeScale()))};
    BotLog result;
    RunBoxbot(*sandbox, "program", options, command, sandbox->Resolve("C:\\windows"), "-all",
              &result);
    return result;
}

ProgramRun RunWineProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& hostDir) {
    Sandbox box(0);
    const fs::path output = box.dir / "wine.out";
    std::vector<std::string> argv = {"wine", program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProgramRun run;
    run.exitCode = Run(InPrefix(box, argv, hostDir, output, "-all"), Scaled(RunDeadlineSeconds));
    if (run.exitCode == 127)
        throw std::runtime_error("cannot run wine: " + ReadText(output));
    Run(InPrefix(box, {"wineserver", "-k"}, hostDir, box.dir / "server.out", "-all"), Scaled(30));
    run.output = ReadText(output);
    return run;
}

WineRun RunInstaller(const WineCase& wineCase) {
    std::vector<uint8_t> installer = wineCase.installer.empty()
                                         ? pkg::WriteInstaller(InstallerStub(), wineCase.package)
                                         : wineCase.installer;
    installer.resize(installer.size() - std::min(installer.size(), wineCase.truncateBy));
    for (size_t i = 0; wineCase.damageFromEnd && i < 3; ++i)
        installer.at(installer.size() - wineCase.damageFromEnd + i) ^= 0x5A;
    WineRun run;
    run.sandbox = std::make_unique<Sandbox>(wineCase.driveMiB);
    Sandbox& box = *run.sandbox;
    if (!wineCase.graphicsDriver.empty()) {
        // No wineserver runs yet, so the hive on disk is the one Wine reads.
        fs::path hive = box.prefix / "user.reg";
        std::string text = ReadText(hive);
        const std::string null = "\"Graphics\"=\"null\"";
        size_t at = text.find(null);
        if (at == std::string::npos)
            throw std::runtime_error("the template's user.reg sets no null graphics driver");
        text.replace(at, null.size(), "\"Graphics\"=\"" + wineCase.graphicsDriver + "\"");
        fs::remove(hive); // a file of the template's, below an overlay
        WriteBytes(hive, text.data(), text.size());
    }

    if (wineCase.tmpfsKiB)
        box.MountTmpfs(wineCase.tmpfsDir, wineCase.tmpfsKiB);
    for (const auto& [path, contents] : wineCase.files) {
        fs::path host = box.Resolve(path);
        fs::create_directories(host.parent_path());
        WriteBytes(host, contents.data(), contents.size());
    }
    for (const std::string& path : wineCase.readOnly)
        fs::permissions(box.Resolve(path),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    fs::path downloads = box.Resolve("C:\\Downloads");
    fs::create_directories(downloads);
    WriteBytes(downloads / wineCase.installerName, installer.data(), installer.size());

    WriteScript(box, wineCase.answers);

    std::vector<std::string> options;
    if (wineCase.lingerSeconds)
        options = {"--linger", std::to_string(Scaled((int)wineCase.lingerSeconds))};
    RunBoxbot(box, "installer", options, {"C:\\Downloads\\" + wineCase.installerName}, downloads,
              wineCase.wineDebug, &run);
    return run;
}

} // namespace e2e
