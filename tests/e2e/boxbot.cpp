// boxbot SCRIPT LOG COMMAND [ARGS...]
//
// Plays the user in front of a program under Wine: starts COMMAND, watches
// for its dialog windows, writes down what each one says and answers message
// boxes from SCRIPT, one answer a line (ok, cancel, yes, no, esc, close).
// LOG gets one tab-separated line per event:
//
//   BOX     caption  text  buttons  answer
//   DIALOG  caption  text of control 1001  visible buttons
//   EXIT    exit code of COMMAND
//   UNREAD  caption  what was there: a dialog that went away before it
//           was complete enough to read
//
// Texts are escaped (\r \n \t \\) so that one event stays one line. A box
// that finds the script exhausted is answered with a way out (Cancel, No or
// its only button) and logged with the answer "unscripted", so a test fails
// on its assertions instead of hanging. boxbot exits with COMMAND's exit
// code, or 255 when it could not run it.
#include <windows.h>

#include <cstdio>
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

class Bot {
  public:
    Bot(FILE* log, std::vector<std::string> script) : log_(log), script_(std::move(script)) {}

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
    }

  private:
    // A dialog caught before it is complete, kept so that one which goes
    // away before it ever is still leaves a trace in the log.
    struct Pending {
        HWND hwnd;
        std::string caption;
        std::string detail;
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

    void Remember(HWND h, const std::string& caption, std::string detail) {
        Forget(h);
        pending_.push_back({h, caption, std::move(detail)});
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
        // texts are there; a message box once it is shown with its text and
        // buttons.
        const bool complete = progress ? !caption.empty() && !line.empty()
                                       : IsWindowVisible(h) && text && !buttons.empty();
        if (!complete) {
            Remember(h, caption,
                     std::to_string(children.size()) + " controls" +
                         (progress ? ", 1001: " + line : ""));
            return false;
        }
        // Message boxes have no control 1001; the installation dialog is
        // never answered, whatever buttons it wrongly shows.
        if (progress) {
            Log("DIALOG\t" + caption + "\t" + line + "\t" + buttons);
            return true;
        }
        std::string answer, logged;
        if (next_ < script_.size()) {
            answer = logged = script_[next_++];
            if (!IsUserCommand(answer))
                logged = "bad-answer:" + answer;
        } else {
            answer = WayOut(children);
            logged = "unscripted";
        }
        Log("BOX\t" + caption + "\t" + message + "\t" + buttons + "\t" + logged);
        Answer(h, children, answer);
        return true;
    }

    FILE* log_;
    std::vector<std::string> script_;
    size_t next_ = 0;
    std::vector<HWND> seen_;
    std::vector<Pending> pending_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: boxbot SCRIPT LOG COMMAND [ARGS...]\n");
        return 255;
    }
    FILE* log = fopen(argv[2], "wb");
    if (!log) {
        fprintf(stderr, "boxbot: cannot create %s\n", argv[2]);
        return 255;
    }
    std::string cmdline;
    for (int i = 3; i < argc; ++i)
        cmdline += (i > 3 ? " " : "") + Quote(argv[i]);

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
    CloseHandle(pi.hThread);

    Bot bot(log, ReadScript(argv[1]));
    while (WaitForSingleObject(pi.hProcess, PollMs) == WAIT_TIMEOUT)
        bot.Poll();

    DWORD code = 255;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    fprintf(log, "EXIT\t%lu\n", code);
    fclose(log);
    return (int)code;
}
