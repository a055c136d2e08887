// boxbot [--linger S] [--end-after MS] [--shots DIR] SCRIPT LOG COMMAND [ARGS...]
//
// Plays the user in front of a program under Wine: starts COMMAND, watches
// for dialog windows, writes down what each one says and answers message
// boxes and other dialogs from SCRIPT, one answer a line (ok, cancel, yes,
// no, esc, close). LOG gets one tab-separated line per event:
//
//   BOX     caption  text  buttons  answer
//   DIALOG  caption  text of control 1001  visible buttons
//   FORM    caption  program  controls  buttons  answer: any other dialog,
//           such as a saver's settings; controls are the texts of the
//           other controls in order, one a line, an edit's or a list's
//           between [ ]; program is the full path of its process
//   ENDED   program  exit code: the process of an answered FORM has ended
//   WINDOW  class  caption  x,y,w,h: a shown top-level window of COMMAND
//   TOLD    key: a key press was posted to COMMAND's windows
//   KILLED  COMMAND did not end when told and was terminated
//   EXIT    exit code of COMMAND
//   UNREAD  caption  what was there: a dialog that went away before it
//           was complete enough to read
//
// --linger S: after COMMAND exits, go on watching for up to S seconds for
// the dialogs of programs it started (an installer starts its saver), until
// those answered have ended and none is left.
// --end-after MS: after COMMAND has run MS ms, log its windows and press a
// key in them (a screen saver ends on one), then wait up to 10 s for it.
// --shots DIR: before each answer, and for the windows of --end-after, ask
// for a picture: write DIR\NN-KIND.txt holding the window's "x y w h" and
// wait until DIR\NN-KIND.done exists. The installation dialog's program is
// suspended meanwhile, since the dialog stands only as long as the copying.
//
// E2E_TIME_SCALE in the environment multiplies boxbot's own waits (the 10 s
// above, a picture's and a dialog's settling); the caller scales MS and S.
//
// Texts are escaped (\r \n \t \\) so that one event stays one line. A box
// that finds the script exhausted is answered with a way out (Cancel, No or
// its only button) and logged with the answer "unscripted", so a test fails
// on its assertions instead of hanging. boxbot exits with COMMAND's exit
// code, or 255 when it could not run it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int ProgressControlId = 1001;
const int MessageTextId = 0xFFFF;
// EnumWindows is one cheap server round trip, so polling this often costs
// little. Wine sends no show events to other processes, so a dialog that
// stands for less than a poll can still be missed: a test that must see the
// installation dialog gives the installer enough to copy to keep it up.
const DWORD PollMs = 2;

// The waits below are sized for a native host; E2E_TIME_SCALE, which the
// test harness sets from a timed Wine start, stretches them where Wine runs
// slower, as in an emulated PC.
DWORD Scaled(DWORD ms) {
    static const double scale = [] {
        const char* text = getenv("E2E_TIME_SCALE");
        double value = text ? strtod(text, nullptr) : 1.0;
        return value >= 1.0 ? value : 1.0;
    }();
    return (DWORD)(ms * scale);
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// For a window of another process this reads the text Windows keeps for it
// instead of sending WM_GETTEXT, so a busy target cannot block us.
std::string WindowText(HWND hwnd) {
    char buf[2048];
    int n = GetWindowTextA(hwnd, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

std::string ClassOf(HWND hwnd) {
    char buf[64];
    int n = GetClassNameA(hwnd, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

struct Control {
    HWND hwnd;
    int id;
    std::string cls;
    bool visible;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    auto* out = reinterpret_cast<std::vector<Control>*>(param);
    // The control's own style, not IsWindowVisible: the installation dialog
    // may still be hidden itself.
    const bool visible = (GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
    out->push_back({hwnd, GetDlgCtrlID(hwnd) & 0xFFFF, ClassOf(hwnd), visible});
    return TRUE;
}

std::vector<Control> ChildrenOf(HWND dialog) {
    std::vector<Control> children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

// What an edit box holds or a list shows lives in the control, not in the
// text Windows keeps for the window: it has to be asked, with a bound.
std::string AskedText(HWND hwnd) {
    char buf[512];
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, (LPARAM)buf, SMTO_ABORTIFHUNG, 500, &n))
        return "?";
    return std::string(buf, n < sizeof buf ? n : 0);
}

bool HoldsValue(const std::string& cls) {
    return cls == "Edit" || cls == "ComboBox";
}

// The form's controls other than its push buttons, as a person reads them.
std::string ControlTexts(const std::vector<Control>& children) {
    std::string out;
    for (const Control& c : children) {
        if (!c.visible || c.cls == "Button" || c.cls == "ComboLBox")
            continue;
        // An edit inside a combo box repeats the combo's text.
        if (c.cls == "Edit" && ClassOf(GetParent(c.hwnd)) == "ComboBox")
            continue;
        std::string text = HoldsValue(c.cls) ? "[" + AskedText(c.hwnd) + "]" : WindowText(c.hwnd);
        if (text.empty())
            continue;
        if (!out.empty())
            out += '\n';
        out += text;
    }
    return out;
}

std::string ProgramOf(HWND hwnd, DWORD* pidOut = nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pidOut)
        *pidOut = pid;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return "?";
    char path[MAX_PATH];
    DWORD size = sizeof path;
    std::string out = QueryFullProcessImageNameA(process, 0, path, &size) ? path : "?";
    CloseHandle(process);
    return out;
}

struct FindState {
    DWORD self;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != state->self && ClassOf(hwnd) == "#32770")
        state->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelDialogs() {
    FindState state{GetCurrentProcessId(), {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

bool Contains(const std::vector<HWND>& v, HWND h) {
    for (HWND x : v)
        if (x == h)
            return true;
    return false;
}

bool IsUserCommand(const std::string& s) {
    static const char* const known[] = {"ok", "cancel", "yes", "no", "esc", "close"};
    for (const char* k : known)
        if (s == k)
            return true;
    return false;
}

// What a person would do: a command id for the buttons, the Escape key
// through the dialog manager (which turns it into IDCANCEL only where the
// box allows it), the close box through the system command.
void Answer(HWND box, const std::vector<Control>& children, const std::string& answer) {
    int id = 0;
    if (answer == "ok")
        id = IDOK;
    else if (answer == "cancel")
        id = IDCANCEL;
    else if (answer == "yes")
        id = IDYES;
    else if (answer == "no")
        id = IDNO;
    if (id != 0) {
        HWND button = NULL;
        for (const Control& c : children)
            if (c.id == id && c.cls == "Button")
                button = c.hwnd;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
    } else if (answer == "esc") {
        GUITHREADINFO info;
        info.cbSize = sizeof info;
        HWND target = box;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &info) && info.hwndFocus)
            target = info.hwndFocus;
        const LPARAM scan = (LPARAM)MapVirtualKeyA(VK_ESCAPE, 0) << 16;
        PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 1 | scan);
        PostMessageA(target, WM_KEYUP, VK_ESCAPE, 1 | scan | 0xC0000000);
    } else if (answer == "close") {
        PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

std::string WayOut(const std::vector<Control>& children) {
    const int preferred[] = {IDCANCEL, IDNO, IDOK, IDYES};
    for (int want : preferred)
        for (const Control& c : children)
            if (c.cls == "Button" && c.visible && c.id == want)
                return want == IDCANCEL ? "cancel"
                       : want == IDNO   ? "no"
                       : want == IDOK   ? "ok"
                                        : "yes";
    return "close";
}

std::vector<std::string> ReadScript(const char* path) {
    std::vector<std::string> answers;
    FILE* f = fopen(path, "r");
    if (!f)
        return answers;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
            s.pop_back();
        if (!s.empty())
            answers.push_back(s);
    }
    fclose(f);
    return answers;
}

std::string Quote(const char* arg) {
    if (*arg && !strpbrk(arg, " \t\""))
        return arg;
    std::string out = "\"";
    for (const char* p = arg; *p; ++p) {
        if (*p == '"')
            out += '\\';
        out += *p;
    }
    return out + "\"";
}

// The picture taker on the other side of --shots: one request a window,
// answered by a file of the same name ending in .done, or in .again when
// the picture came out blank and another is wanted.
class Shots {
  public:
    explicit Shots(std::string dir) : dir_(std::move(dir)) {}

    bool On() const { return !dir_.empty(); }

    // The name of the next picture: DIR\NN-KIND.
    std::string Next(const char* kind) {
        char name[64];
        snprintf(name, sizeof name, "\\%02d-%s", ++count_, kind);
        return dir_ + name;
    }

    // Asks for a picture of the window; false when another is wanted.
    bool Ask(HWND window, const std::string& base) {
        RECT r;
        if (!GetWindowRect(window, &r))
            return true;
        FILE* f = fopen((base + ".tmp").c_str(), "w");
        if (!f)
            return true;
        fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fclose(f);
        MoveFileExA((base + ".tmp").c_str(), (base + ".txt").c_str(), MOVEFILE_REPLACE_EXISTING);
        for (DWORD waited = 0; waited < Scaled(30000); waited += 5) {
            if (GetFileAttributesA((base + ".done").c_str()) != INVALID_FILE_ATTRIBUTES)
                return true;
            if (DeleteFileA((base + ".again").c_str()))
                return false;
            Sleep(5);
        }
        return true;
    }

    void Take(HWND window, const char* kind) {
        if (On())
            Ask(window, Next(kind));
    }

  private:
    std::string dir_;
    int count_ = 0;
};

class Bot {
  public:
    Bot(FILE* log, std::vector<std::string> script, Shots* shots, HANDLE childThread,
        DWORD childPid)
        : log_(log), script_(std::move(script)), shots_(shots), childThread_(childThread),
          childPid_(childPid) {}

    ~Bot() {
        for (const Watched& w : watched_)
            CloseHandle(w.process);
    }

    // Whether everything the user was shown has been dealt with: a form was
    // answered, every answered program has ended, no dialog is left.
    bool Settled() {
        if (watched_.empty() || !TopLevelDialogs().empty())
            return false;
        for (const Watched& w : watched_)
            if (!w.ended)
                return false;
        return true;
    }

    // The shown top-level windows of a process, logged (and pictured).
    std::vector<HWND> LogWindowsOf(DWORD pid) {
        std::vector<HWND> windows = VisibleWindowsOf(pid);
        for (HWND h : windows) {
            RECT r;
            GetWindowRect(h, &r);
            char rect[64];
            snprintf(rect, sizeof rect, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left,
                     r.bottom - r.top);
            Log("WINDOW\t" + Escape(ClassOf(h)) + "\t" + Escape(WindowText(h)) + "\t" + rect);
            shots_->Take(h, "window");
        }
        return windows;
    }

    void LogLine(const std::string& line) { Log(line); }

    // One look at the screen: every dialog seen for the first time is
    // logged once it is complete and, if a message box, answered.
    void Poll() {
        std::vector<HWND> now = TopLevelDialogs();
        std::vector<HWND> stillThere;
        for (HWND h : seen_)
            if (Contains(now, h))
                stillThere.push_back(h);
        seen_.swap(stillThere);
        std::vector<Pending> stillPending;
        for (const Pending& p : pending_) {
            if (Contains(now, p.hwnd))
                stillPending.push_back(p);
            else
                Log("UNREAD\t" + p.caption + "\t" + p.detail);
        }
        pending_.swap(stillPending);
        for (HWND h : now) {
            if (Contains(seen_, h))
                continue;
            if (Handle(h)) {
                seen_.push_back(h);
                Forget(h);
            }
        }
        for (Watched& w : watched_) {
            DWORD code = 0;
            if (!w.ended && WaitForSingleObject(w.process, 0) == WAIT_OBJECT_0) {
                GetExitCodeProcess(w.process, &code);
                w.ended = true;
                Log("ENDED\t" + Escape(w.program) + "\t" + std::to_string(code));
            }
        }
    }

  private:
    // The installation dialog stands only while the files are copied, so
    // its program is held still for the picture. Caught before it painted
    // itself, it is let go on a moment at a time until the picture shows it.
    void PictureWhileStopped(HWND dialog) {
        DWORD pid = 0;
        GetWindowThreadProcessId(dialog, &pid);
        const std::string base = shots_->Next("dialog");
        // Caught inside its WM_INITDIALOG, it has its texts but is shown
        // only once that returns.
        for (int waits = 0; waits < 200 && IsWindow(dialog) && !IsWindowVisible(dialog); ++waits)
            Sleep(Scaled(5));
        for (int tries = 0; tries < 200 && IsWindowVisible(dialog); ++tries) {
            const bool held = pid == childPid_ && SuspendThread(childThread_) != (DWORD)-1;
            const bool done = shots_->Ask(dialog, base);
            if (held)
                ResumeThread(childThread_);
            if (done)
                return;
            Sleep(1);
        }
    }

    // A process other than COMMAND whose form was answered, until it ends.
    struct Watched {
        HANDLE process;
        std::string program;
        bool ended;
    };

    static BOOL CALLBACK CollectWindowOf(HWND hwnd, LPARAM param) {
        auto* state = reinterpret_cast<FindState*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == state->self && IsWindowVisible(hwnd))
            state->found.push_back(hwnd);
        return TRUE;
    }

    static std::vector<HWND> VisibleWindowsOf(DWORD pid) {
        FindState state{pid, {}};
        EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&state));
        return state.found;
    }

    void Watch(HWND form, const std::string& program) {
        DWORD pid = 0;
        GetWindowThreadProcessId(form, &pid);
        if (pid == childPid_)
            return;
        for (const Watched& w : watched_)
            if (GetProcessId(w.process) == pid)
                return;
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process)
            watched_.push_back({process, program, false});
    }

    // The next scripted answer, or a way out when the script is done.
    std::string NextAnswer(const std::vector<Control>& children, std::string* logged) {
        if (next_ < script_.size()) {
            std::string answer = script_[next_++];
            *logged = IsUserCommand(answer) ? answer : "bad-answer:" + answer;
            return answer;
        }
        *logged = "unscripted";
        return WayOut(children);
    }

    // A dialog caught before it is complete, kept so that one which goes
    // away before it ever is still leaves a trace in the log.
    struct Pending {
        HWND hwnd;
        std::string caption;
        std::string detail;
        size_t controls;
        DWORD since; // when it last changed
    };

    void Log(const std::string& line) {
        fprintf(log_, "%s\n", line.c_str());
        fflush(log_);
    }

    void Forget(HWND h) {
        for (size_t i = 0; i < pending_.size(); ++i)
            if (pending_[i].hwnd == h) {
                pending_.erase(pending_.begin() + (long)i);
                return;
            }
    }

    void Remember(HWND h, const std::string& caption, std::string detail, size_t controls) {
        for (Pending& p : pending_)
            if (p.hwnd == h) {
                if (p.controls != controls)
                    p.since = GetTickCount();
                p.caption = caption;
                p.detail = std::move(detail);
                p.controls = controls;
                return;
            }
        pending_.push_back({h, caption, std::move(detail), controls, GetTickCount()});
    }

    // A message box is made one control at a time, and one caught half made
    // has no text yet: a dialog counts as one of another kind only once its
    // controls have stayed as they are for a while.
    bool UnchangedFor(HWND h, size_t controls, DWORD ms) const {
        for (const Pending& p : pending_)
            if (p.hwnd == h)
                return p.controls == controls && GetTickCount() - p.since >= ms;
        return false;
    }

    // Logs and answers a complete dialog; false for one that is not shown
    // or not yet filled in, to be looked at again.
    bool Handle(HWND h) {
        std::vector<Control> children = ChildrenOf(h);
        const Control* progress = nullptr;
        const Control* text = nullptr;
        std::string buttons;
        for (const Control& c : children) {
            if (c.id == ProgressControlId)
                progress = &c;
            if (c.id == MessageTextId && c.cls == "Static" && !text)
                text = &c;
            if (c.cls == "Button" && c.visible) {
                if (!buttons.empty())
                    buttons += ',';
                buttons += std::to_string(c.id) + "=" + WindowText(c.hwnd);
            }
        }
        // Each text is read once: the window may be gone at the next read.
        const std::string caption = Escape(WindowText(h));
        const std::string line = progress ? Escape(WindowText(progress->hwnd)) : "";
        const std::string message = text ? Escape(WindowText(text->hwnd)) : "";
        // The installation dialog is filled in while it initialises and may
        // do all its work before Wine first shows it, so it counts once its
        // texts are there; a message box or another dialog once it is shown
        // with its buttons, and a box with its text.
        const bool form = !progress && !text;
        const bool complete =
            progress ? !caption.empty() && !line.empty()
                     : IsWindowVisible(h) && !buttons.empty() &&
                           (text || UnchangedFor(h, children.size(), Scaled(FormSettleMs)));
        if (!complete) {
            Remember(h, caption,
                     std::to_string(children.size()) + " controls" +
                         (progress ? ", 1001: " + line : ""),
                     children.size());
            return false;
        }
        // Message boxes have no control 1001; the installation dialog is
        // never answered, whatever buttons it wrongly shows.
        if (progress) {
            Log("DIALOG\t" + caption + "\t" + line + "\t" + buttons);
            if (shots_->On())
                PictureWhileStopped(h);
            return true;
        }
        if (shots_->On()) {
            Sleep(Scaled(ShotSettleMs));
            shots_->Take(h, form ? "form" : "box");
        }
        std::string logged;
        const std::string answer = NextAnswer(children, &logged);
        if (form) {
            const std::string program = ProgramOf(h);
            Log("FORM\t" + caption + "\t" + Escape(program) + "\t" +
                Escape(ControlTexts(children)) + "\t" + buttons + "\t" + logged);
            Watch(h, program);
        } else {
            Log("BOX\t" + caption + "\t" + message + "\t" + buttons + "\t" + logged);
        }
        Answer(h, children, answer);
        return true;
    }

    // A box paints itself once shown; its picture waits for that.
    static const DWORD ShotSettleMs = 400;
    static const DWORD FormSettleMs = 200;

    FILE* log_;
    std::vector<std::string> script_;
    Shots* shots_;
    HANDLE childThread_;
    DWORD childPid_;
    std::vector<Watched> watched_;
    size_t next_ = 0;
    std::vector<HWND> seen_;
    std::vector<Pending> pending_;
};

struct Options {
    DWORD lingerMs = 0;
    DWORD endAfterMs = 0;
    std::string shots;
    int first = 1; // of SCRIPT LOG COMMAND
};

bool ReadOptions(int argc, char** argv, Options* o) {
    while (o->first + 1 < argc && strncmp(argv[o->first], "--", 2) == 0) {
        const std::string name = argv[o->first];
        const char* value = argv[o->first + 1];
        if (name == "--linger")
            o->lingerMs = (DWORD)strtoul(value, nullptr, 10) * 1000;
        else if (name == "--end-after")
            o->endAfterMs = (DWORD)strtoul(value, nullptr, 10);
        else if (name == "--shots")
            o->shots = value;
        else
            return false;
        o->first += 2;
    }
    return argc - o->first >= 3;
}

// Presses a key in COMMAND's windows, as a user would to end a saver, and
// gives it a bounded time to end.
void EndWhenTold(Bot& bot, const PROCESS_INFORMATION& pi) {
    const LPARAM scan = (LPARAM)MapVirtualKeyA(VK_SPACE, 0) << 16;
    for (HWND h : bot.LogWindowsOf(pi.dwProcessId)) {
        PostMessageA(h, WM_KEYDOWN, VK_SPACE, 1 | scan);
        PostMessageA(h, WM_KEYUP, VK_SPACE, 1 | scan | 0xC0000000);
    }
    bot.LogLine("TOLD\tspace");
    if (WaitForSingleObject(pi.hProcess, Scaled(10000)) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 255);
        bot.LogLine("KILLED");
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ReadOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: boxbot [--linger S] [--end-after MS] [--shots DIR] SCRIPT LOG "
                        "COMMAND [ARGS...]\n");
        return 255;
    }
    const char* script = argv[options.first];
    const char* logPath = argv[options.first + 1];
    FILE* log = fopen(logPath, "wb");
    if (!log) {
        fprintf(stderr, "boxbot: cannot create %s\n", logPath);
        return 255;
    }
    std::string cmdline;
    for (int i = options.first + 2; i < argc; ++i)
        cmdline += (i > options.first + 2 ? " " : "") + Quote(argv[i]);

    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> mutableLine(cmdline.begin(), cmdline.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(NULL, mutableLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(log, "START-FAILED\t%s\t%lu\n", Escape(cmdline).c_str(), GetLastError());
        fclose(log);
        return 255;
    }

    Shots shots(options.shots);
    Bot bot(log, ReadScript(script), &shots, pi.hThread, pi.dwProcessId);
    const DWORD started = GetTickCount();
    while (WaitForSingleObject(pi.hProcess, PollMs) == WAIT_TIMEOUT) {
        bot.Poll();
        if (options.endAfterMs && GetTickCount() - started >= options.endAfterMs) {
            EndWhenTold(bot, pi);
            break;
        }
    }

    DWORD code = 255;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    fprintf(log, "EXIT\t%lu\n", code);
    fflush(log);

    const DWORD exited = GetTickCount();
    while (options.lingerMs && GetTickCount() - exited < options.lingerMs) {
        bot.Poll();
        if (bot.Settled())
            break;
        Sleep(PollMs);
    }
    fclose(log);
    return (int)code;
}
