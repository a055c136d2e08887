// saverpack create on files: the core makes the installer from them, this
// writes it beside OUT, signs it when asked, and renames it into place only
// when whole.
#include "tools/saverpack/cli/commands.h"

#include "tools/saverpack/cli/os.h"
#include "tools/saverpack/create.h"

#include <chrono>
#include <cstdio>

namespace saverpack {
namespace {

// A bar over all the bytes to compress, redrawn a few times a second, on a
// terminal only.
class ProgressBar {
  public:
    ProgressBar(uint64_t total, bool shown) : total_(total), shown_(shown) {}
    ~ProgressBar() {
        if (drawn_)
            std::fprintf(stderr, "\r%60s\r", "");
    }
    void Reached(uint64_t done) {
        auto now = std::chrono::steady_clock::now();
        if (!shown_ || total_ == 0 || (drawn_ && now - last_ < std::chrono::milliseconds(100)))
            return;
        last_ = now;
        drawn_ = true;
        const int Width = 30;
        int filled = int(done * Width / total_);
        std::fprintf(stderr, "\rcompressing [%-*s] %3d%%", Width, std::string(filled, '#').c_str(),
                     int(done * 100 / total_));
        std::fflush(stderr);
    }

  private:
    uint64_t total_;
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// A file named on the command line, looked at when the core asks its size
// and read whole only when it packs it.
Source FileSource(const std::string& shown) {
    fs::path path = PathOf(shown);
    return {shown, TextOf(path.filename()),
            [shown, path] {
                std::error_code error;
                fs::file_status status = fs::status(path, error);
                if (!fs::exists(status))
                    throw Failure(shown + ": cannot read it: no such file");
                if (!fs::is_regular_file(status))
                    throw Failure(shown + ": is not a file");
                uint64_t size = fs::file_size(path, error);
                if (error)
                    throw Failure(shown + ": cannot read it: " + error.message());
                return size;
            },
            // The core refuses what the format cannot hold before it reads.
            [shown, path] { return ReadWholeFile(path, shown, InstallerReadLimit - 1); }};
}

// Every file create reads, whatever it reads it for.
std::vector<NamedFile> FilesRead(const CreateOptions& o) {
    std::vector<NamedFile> read;
    for (const std::string* name :
         {&o.saver, &o.data, &o.stub, &o.icon, &o.key.cert, &o.key.key, &o.key.passFile})
        if (!name->empty())
            read.push_back({*name, PathOf(*name)});
    for (const std::string& f : o.files)
        read.push_back({f, PathOf(f)});
    return read;
}

MakeRequest RequestOf(const CreateOptions& o) {
    MakeRequest r;
    r.out = o.out;
    r.outName = TextOf(PathOf(o.out).filename());
    r.title = o.title;
    r.saver = FileSource(o.saver);
    if (!o.data.empty())
        r.data = FileSource(o.data);
    for (const std::string& f : o.files)
        r.files.push_back(FileSource(f));
    r.firstNumber = o.firstNumber;
    r.store = o.store;
    r.level = o.level;
    r.stubShown = o.stub;
    r.stub = [&o] {
        return o.stub.empty() ? std::vector<uint8_t>(EmbeddedStub, EmbeddedStub + EmbeddedStubSize)
                              : ReadWholeFile(PathOf(o.stub), o.stub, InstallerReadLimit - 1);
    };
    if (!o.icon.empty())
        r.icon = FileSource(o.icon);
    r.productVersion = o.productVersion;
    r.company = o.company;
    r.description = o.description;
    r.copyright = o.copyright;
    return r;
}

} // namespace

int Create(const CreateOptions& o) {
    auto start = std::chrono::steady_clock::now();
    fs::path out = PathOf(o.out);
    MakeRequest request = RequestOf(o);
    uint64_t total = 0;
    std::unique_ptr<ProgressBar> bar;
    MakeHooks hooks;
    hooks.nameJudged = [&] {
        RefuseToReplaceAnInput(out, "the installer to write (" + o.out + ")", FilesRead(o));
    };
    hooks.warn = [&](const std::string& text) {
        if (!o.quiet)
            std::fprintf(stderr, "saverpack: warning: %s: %s\n", o.out.c_str(), text.c_str());
    };
    hooks.beforePacking = [&] {
        std::error_code error;
        if (fs::is_directory(out, error))
            throw Failure(o.out + ": is a folder");
    };
    hooks.progress = [&](uint64_t done, uint64_t all) {
        StopIfInterrupted();
        if (!bar) {
            total = all;
            bar = std::make_unique<ProgressBar>(total,
                                                !o.quiet && !o.store && toolos::StderrIsTerminal());
        }
        bar->Reached(done);
    };
    MadeInstaller made = MakeInstaller(request, hooks);
    bar.reset();

    PendingFile unsigned_(out);
    unsigned_.Open();
    for (const std::vector<uint8_t>& piece : made.installer.pieces)
        unsigned_.WriteAll(piece);
    unsigned_.Close();
    StopIfInterrupted();
    if (o.key.cert.empty()) {
        unsigned_.Commit();
    } else {
        PendingFile signed_(out);
        SigningKey key = o.key;
        key.description = o.title;
        SignInstaller(unsigned_.Path(), signed_.Path(), key, o.out);
        StopIfInterrupted();
        signed_.Commit();
    }
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::error_code error;
    if (!o.quiet)
        std::fputs(SummaryText(request, made, fs::file_size(out, error), seconds.count()).c_str(),
                   stdout);
    return 0;
}

} // namespace saverpack
