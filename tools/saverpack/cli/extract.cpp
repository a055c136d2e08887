// saverpack extract: every entry written where the installer would write
// it, below one folder, all or nothing.
#include "tools/saverpack/extract.h"

#include "tools/saverpack/cli/commands.h"

#include <cstdio>
#include <memory>

namespace saverpack {

namespace {

fs::path Below(const fs::path& folder, const std::vector<std::string>& components, size_t count) {
    fs::path p = folder;
    for (size_t i = 0; i < count; ++i)
        p /= PathOf(components[i]);
    return p;
}

// The folders between `folder` and each target: made when missing (and
// noted, to be removed again on failure), refused when a link or a file
// stands in their place, since either could lead outside the folder.
class Folders {
  public:
    ~Folders() {
        std::error_code ignored; // a folder that will not go is left, empty
        if (!kept_)
            for (auto it = made_.rbegin(); it != made_.rend(); ++it)
                fs::remove(*it, ignored);
    }
    void Need(const fs::path& path, const std::string& shown) {
        std::error_code error;
        fs::file_status status = fs::symlink_status(path, error);
        if (fs::is_symlink(status))
            throw Failure(shown + ": is a symbolic link; extract writes only into real folders");
        if (fs::exists(status)) {
            if (!fs::is_directory(status))
                throw Failure(shown + ": is in the way of a folder");
            return;
        }
        if (!fs::create_directory(path, error))
            throw Failure(shown + ": cannot make the folder: " + error.message());
        made_.push_back(path);
    }
    void Keep() { kept_ = true; }

  private:
    std::vector<fs::path> made_;
    bool kept_ = false;
};

void WriteBlock(void* context, const uint8_t* bytes, size_t count) {
    StopIfInterrupted();
    static_cast<PendingFile*>(context)->Write(bytes, count);
}

} // namespace

int Extract(const std::string& installer, const std::string& folderText, bool force) {
    fs::path path = PathOf(installer);
    FileBytes file(path);
    Examination x = Examine(file, TextOf(path.filename()));
    std::vector<ExtractTarget> targets = ExtractionOf(file, installer, x);

    fs::path folder = PathOf(folderText);
    std::error_code error;
    for (const ExtractTarget& t : targets) {
        fs::path target = Below(folder, t.path, t.path.size());
        fs::file_status status = fs::symlink_status(target, error);
        if (fs::exists(status) && !force)
            throw Failure(TextOf(target) + ": exists; --force replaces it");
        if (fs::exists(status) && !fs::is_regular_file(status))
            throw Failure(TextOf(target) + ": is not a plain file; it is left as it is");
    }

    Folders folders;
    bool madeFolder = !fs::exists(folder, error);
    if (madeFolder && !fs::create_directories(folder, error))
        throw Failure(folderText + ": cannot make the folder: " + error.message());
    struct RemoveIfMade {
        const fs::path& folder;
        bool made;
        bool keep = false;
        ~RemoveIfMade() {
            std::error_code ignored; // left behind, empty, when it will not go
            if (made && !keep)
                fs::remove(folder, ignored);
        }
    } madeGuard{folder, madeFolder};

    // Every entry is written under a temporary name first; only when all are
    // whole are they renamed into place.
    std::vector<std::unique_ptr<PendingFile>> pending;
    for (const ExtractTarget& t : targets) {
        for (size_t n = 1; n < t.path.size(); ++n)
            folders.Need(Below(folder, t.path, n), TextOf(Below(folder, t.path, n)));
        pending.push_back(std::make_unique<PendingFile>(Below(folder, t.path, t.path.size())));
        PendingFile& out = *pending.back();
        out.Open();
        RestoreEntry(file, x.entries[t.entry].entry, WriteBlock, &out);
        out.Close();
    }
    StopIfInterrupted();
    for (auto& p : pending)
        p->Commit();
    folders.Keep();
    madeGuard.keep = true;
    for (const ExtractTarget& t : targets)
        std::printf("%s\n", TextOf(Below(folder, t.path, t.path.size())).c_str());
    std::printf("%s: %zu file%s extracted into %s\n", installer.c_str(), targets.size(),
                targets.size() == 1 ? "" : "s", folderText.c_str());
    return 0;
}

} // namespace saverpack
