// saverpack create: inputs checked, compressed and decoded again, the
// package written into a copy of the stub beside OUT with the checksum made
// right, signed when asked, and renamed into place only when whole.
#include "tools/saverpack/commands.h"

#include "package/writer.h"
#include "platform/tool_os.h"
#include "tools/saverpack/checksum.h"
#include "tools/saverpack/examine.h"
#include "tools/saverpack/names.h"
#include "tools/saverpack/resources.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace saverpack {

const Level OfferedLevels[] = {Level::Fast, Level::Best};
const size_t OfferedLevelCount = sizeof OfferedLevels / sizeof OfferedLevels[0];

const char* NameOf(Level level) {
    for (const ::LevelName& l : ::LevelNames)
        if (l.level == level)
            return l.name;
    return "?";
}

const Level* LevelNamed(const std::string& name) {
    for (const Level& level : OfferedLevels)
        if (name == NameOf(level))
            return &level;
    return nullptr;
}

namespace {

// Entry 0 is the saver, 1 the data file, 2 on the FILEs.
struct Input {
    std::string shown; // as given on the command line
    fs::path path;
    uint64_t size = 0;
    std::string extension; // for entries 2 on: ".BMP"
};

// Up to the dot and three characters from the file name's last '.', in
// Windows-1252 and in capitals; none when the name has no '.' or ends with
// one (Windows drops a trailing dot from a name).
std::string ExtensionOf(const Input& input) {
    std::string name = TextOf(input.path.filename());
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size())
        return "";
    std::string extension, bad;
    if (!Utf8ToWindows1252(name.substr(dot), extension, bad))
        throw Failure(input.shown + ": its extension holds " + bad, 2);
    if (extension.size() > ExtensionSize)
        throw Failure(input.shown + ": its extension " + name.substr(dot) +
                          " is longer than the dot and three characters an entry can keep",
                      2);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    char field[ExtensionSize] = {};
    extension.copy(field, ExtensionSize);
    std::string why = ExtensionProblem(field);
    if (!why.empty())
        throw Failure(input.shown + ": its extension holds " + why, 2);
    return extension;
}

// What the format cannot hold is refused before anything is read whole.
void CheckSize(Input& input) {
    std::error_code error;
    fs::file_status status = fs::status(input.path, error);
    if (!fs::exists(status))
        throw Failure(input.shown + ": cannot read it: no such file");
    if (!fs::is_regular_file(status))
        throw Failure(input.shown + ": is not a file");
    input.size = fs::file_size(input.path, error);
    if (error)
        throw Failure(input.shown + ": cannot read it: " + error.message());
    if (input.size == 0)
        throw Failure(input.shown + ": is empty; an entry of no bytes would end the package "
                                    "directory");
    if (input.size >= InstallerReadLimit)
        throw Failure(input.shown + ": is 2 GiB or more; an entry must be smaller");
}

std::vector<Input> GatherInputs(const CreateOptions& o) {
    if (!o.files.empty() && o.data.empty())
        throw Failure("each FILE becomes entry 2 or later, and entry 1 is always the data file: "
                      "give --data as well",
                      2);
    std::vector<Input> inputs;
    inputs.push_back({o.saver, PathOf(o.saver), 0, ""});
    if (!o.data.empty())
        inputs.push_back({o.data, PathOf(o.data), 0, ""});
    for (const std::string& f : o.files)
        inputs.push_back({f, PathOf(f), 0, ""});
    for (size_t i = 2; i < inputs.size(); ++i)
        inputs[i].extension = ExtensionOf(inputs[i]);
    for (Input& input : inputs)
        CheckSize(input);
    return inputs;
}

std::vector<uint8_t> LoadStub(const CreateOptions& o) {
    std::vector<uint8_t> stub =
        o.stub.empty() ? std::vector<uint8_t>(EmbeddedStub, EmbeddedStub + EmbeddedStubSize)
                       : ReadWholeFile(PathOf(o.stub), o.stub);
    try {
        pkg::CheckStubLayout(stub);
    } catch (const pkg::PackageError& e) {
        throw Failure((o.stub.empty() ? std::string("the built-in stub") : o.stub) +
                      ": cannot serve as the installer stub: " + e.what());
    }
    return stub;
}

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

// The stream when it is smaller, checked by decoding it again; the bytes as
// they are otherwise.
pkg::EntryToWrite Pack(std::vector<uint8_t> bytes, const Input& input, const CreateOptions& o,
                       ProgressBar& bar, uint64_t doneBefore) {
    pkg::EntryToWrite entry;
    entry.extension = input.extension;
    if (!o.store) {
        std::vector<uint8_t> stream = EncodeSmaller(bytes, o.level, [&](size_t done) {
            StopIfInterrupted();
            bar.Reached(doneBefore + done);
        });
        if (!stream.empty()) {
            if (!DecodesTo(stream, bytes))
                throw Failure(input.shown + ": internal error: its compressed stream does not "
                                            "decode to it; no installer was written");
            entry.originalSize = uint32_t(bytes.size());
            entry.stored = std::move(stream);
            return entry;
        }
    }
    entry.stored = std::move(bytes);
    return entry;
}

std::string Percent(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * double(part) / double(whole) : 0.0);
    return text;
}

void PrintSummary(const CreateOptions& o, const std::vector<Input>& inputs,
                  const pkg::PackageToWrite& package, const Identity& identity,
                  uint64_t installerSize, double seconds) {
    if (!identity.icon.empty()) {
        std::string sizes;
        for (const IconImage& image : identity.icon)
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(image.Width()) + "x" +
                     std::to_string(image.Height()) + (image.Png() ? " PNG" : "");
        std::printf("  icon: %s (%s)\n", o.icon.c_str(), sizes.c_str());
    }
    if (identity.version)
        std::printf("  version information: %s\n", identity.version->versionText.empty()
                                                       ? "without a version (0.0.0.0)"
                                                       : identity.version->versionText.c_str());
    InstallerNames names = NamesOf(TextOf(PathOf(o.out).filename()));
    uint64_t in = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const pkg::EntryToWrite& e = package.entries[i];
        std::vector<std::string> path =
            InstalledPath(names, uint32_t(i), package.firstFileNumber, e.extension.c_str());
        std::string place =
            i == 0 ? path[0] + " in the Windows directory" : "...\\" + WindowsPath(path);
        std::string method = e.originalSize ? "-> " + Thousands(e.stored.size()) + " (" +
                                                  Percent(e.stored.size(), inputs[i].size) + ")"
                                            : "stored";
        std::printf("  %-52s %s, %s bytes %s\n", place.c_str(), inputs[i].shown.c_str(),
                    Thousands(inputs[i].size).c_str(), method.c_str());
        in += inputs[i].size;
    }
    std::printf("%s: %zu entr%s, %s bytes in, %s bytes out (%s), %.2f s\n", o.out.c_str(),
                inputs.size(), inputs.size() == 1 ? "y" : "ies", Thousands(in).c_str(),
                Thousands(installerSize).c_str(), Percent(installerSize, in).c_str(), seconds);
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

// The version resource's content, checked: a text or version Windows would
// not show as given is refused, naming the installer it was meant for.
std::optional<VersionInfo> VersionOf(const CreateOptions& o) {
    if (!o.productVersion && !o.company && !o.description && !o.copyright)
        return std::nullopt;
    VersionInfo info;
    if (o.productVersion) {
        std::string why = VersionProblem(*o.productVersion, info.version);
        if (!why.empty())
            throw Failure(o.out + ": --product-version " + *o.productVersion + ": " + why);
        info.versionText = std::to_string(info.version[0]);
        size_t given = size_t(std::count(o.productVersion->begin(), o.productVersion->end(), '.'));
        for (size_t i = 1; i <= given; ++i)
            info.versionText += "." + std::to_string(info.version[i]);
    }
    const struct {
        const char* option;
        const std::optional<std::string>& given;
        std::string& field;
    } texts[] = {
        {"--company", o.company, info.company},
        {"--description", o.description, info.description},
        {"--copyright", o.copyright, info.copyright},
    };
    for (const auto& t : texts) {
        if (!t.given)
            continue;
        std::string why = VersionTextProblem(*t.given);
        if (!why.empty())
            throw Failure(o.out + ": " + t.option + ": " + why);
        t.field = *t.given;
    }
    if (!o.description)
        info.description = o.title + " Screen Saver Installation";
    info.productName = o.title + " Screen Saver";
    info.originalFilename = TextOf(PathOf(o.out).filename());
    return info;
}

Identity IdentityOf(const CreateOptions& o) {
    Identity identity;
    identity.version = VersionOf(o);
    if (!o.icon.empty()) {
        std::error_code error;
        fs::file_status status = fs::status(PathOf(o.icon), error);
        if (!fs::exists(status))
            throw Failure(o.icon + ": cannot read it: no such file");
        if (!fs::is_regular_file(status))
            throw Failure(o.icon + ": is not a file");
        identity.icon = ParseIconFile(ReadWholeFile(PathOf(o.icon), o.icon), o.icon);
    }
    return identity;
}

void Warn(const CreateOptions& o, const std::string& text) {
    if (!o.quiet)
        std::fprintf(stderr, "saverpack: warning: %s: %s\n", o.out.c_str(), text.c_str());
}

} // namespace

int Create(const CreateOptions& o) {
    auto start = std::chrono::steady_clock::now();
    fs::path out = PathOf(o.out);
    std::string outName = TextOf(out.filename());
    std::string nameError = InstallerNameError(outName);
    if (!nameError.empty())
        throw Failure(o.out + ": " + nameError, 2);
    RefuseToReplaceAnInput(out, "the installer to write (" + o.out + ")", FilesRead(o));
    for (const std::string& w : InstallerNameWarnings(outName))
        Warn(o, w);
    std::string title, bad;
    if (!TitleProblem(o.title).empty() || !Utf8ToWindows1252(o.title, title, bad))
        throw Failure(TitleProblem(o.title), 2);

    Identity identity = IdentityOf(o);
    std::vector<Input> inputs = GatherInputs(o);
    std::vector<uint8_t> stub = LoadStub(o);
    if (!identity.icon.empty() || identity.version) {
        try {
            stub = WithIdentity(stub, identity);
        } catch (const pkg::PackageError& e) {
            throw Failure((o.stub.empty() ? std::string("the built-in stub") : o.stub) +
                          ": cannot take the installer's icon and version: " + e.what());
        }
    }
    std::error_code error;
    if (fs::is_directory(out, error))
        throw Failure(o.out + ": is a folder");

    pkg::PackageToWrite package;
    package.title = title;
    package.firstFileNumber = uint16_t(o.firstNumber);
    uint64_t total = 0, done = 0;
    for (const Input& input : inputs)
        total += input.size;
    {
        ProgressBar bar(total, !o.quiet && !o.store && toolos::StderrIsTerminal());
        for (const Input& input : inputs) {
            StopIfInterrupted();
            package.entries.push_back(
                Pack(ReadWholeFile(input.path, input.shown), input, o, bar, done));
            done += input.size;
        }
    }

    std::vector<uint8_t> installer;
    try {
        installer = pkg::WriteInstaller(stub, package);
    } catch (const pkg::PackageError& e) {
        throw Failure(o.out + ": " + e.what());
    }
    StampChecksum(installer);
    PendingFile unsigned_(out);
    unsigned_.Open();
    unsigned_.WriteAll(installer);
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
    if (!o.quiet)
        PrintSummary(o, inputs, package, identity, fs::file_size(out, error), seconds.count());
    return 0;
}

int Sign(const std::string& installer, const SigningKey& key) {
    fs::path path = PathOf(installer);
    std::vector<NamedFile> read;
    for (const std::string* name : {&key.cert, &key.key, &key.passFile})
        if (!name->empty())
            read.push_back({*name, PathOf(*name)});
    RefuseToReplaceAnInput(path, "the installer to sign (" + installer + ")", read);
    SigningKey k = key;
    {
        FileBytes file(path);
        Examination x = Examine(file, TextOf(path.filename()));
        if (x.signature.present)
            throw Failure(installer + ": is signed already");
        if (!x.where.found || x.directory.entries.empty())
            throw Failure(installer + ": holds no package to sign");
        k.description = TitleOf(x.directory);
    } // closed before it is replaced, which Windows requires
    PendingFile signed_(path);
    SignInstaller(path, signed_.Path(), k, installer);
    StopIfInterrupted();
    signed_.Commit();
    std::printf("%s: signed\n", installer.c_str());
    return 0;
}

} // namespace saverpack
