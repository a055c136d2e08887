// create's work on bytes: inputs checked, compressed and decoded again, the
// package written into a copy of the stub with the checksum made right.
#include "tools/saverpack/create.h"

#include "text/text.h"
#include "tools/saverpack/checksum.h"
#include "tools/saverpack/names.h"

#include <algorithm>
#include <cstdio>
#include <memory>

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

std::vector<std::string> LevelChoices() {
    std::vector<std::string> choices{NameOf(MakeRequest().level)};
    for (Level level : OfferedLevels)
        if (choices[0] != NameOf(level))
            choices.push_back(NameOf(level));
    choices.push_back("store");
    return choices;
}

void ChooseLevel(const std::string& choice, MakeRequest& request) {
    request.store = choice == "store";
    if (request.store)
        return;
    const Level* level = LevelNamed(choice);
    if (!level) {
        std::string names;
        for (const std::string& c : LevelChoices())
            names += (names.empty() ? "" : ", ") + c;
        throw Failure("the compression level is one of " + names, 2).About("level");
    }
    request.level = *level;
}

namespace {

// Entry 0 is the saver, 1 the data file, 2 on the files.
struct Input {
    const Source* source;
    std::string shown;
    std::string role; // the request's field it came from
    uint64_t size = 0;
    std::string extension; // for entries 2 on: ".BMP"
};

// Up to the dot and three characters from the file name's last '.', in
// Windows-1252 and in capitals; none when the name has no '.' or ends with
// one (Windows drops a trailing dot from a name).
std::string ExtensionOf(const Input& input) {
    const std::string& name = input.source->fileName;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size())
        return "";
    std::string extension, bad;
    if (!Utf8ToWindows1252(name.substr(dot), extension, bad))
        throw Failure(input.shown + ": its extension holds " + bad, 2).About(input.role);
    if (extension.size() > ExtensionSize)
        throw Failure(input.shown + ": its extension " + name.substr(dot) +
                          " is longer than the dot and three characters an entry can keep",
                      2)
            .About(input.role);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    char field[ExtensionSize] = {};
    extension.copy(field, ExtensionSize);
    std::string why = ExtensionProblem(field);
    if (!why.empty())
        throw Failure(input.shown + ": its extension holds " + why, 2).About(input.role);
    return extension;
}

// What the format cannot hold is refused before anything is read whole.
void CheckSize(Input& input) {
    input.size = input.source->size();
    if (input.size == 0)
        throw Failure(input.shown + ": is empty; an entry of no bytes would end the package "
                                    "directory")
            .About(input.role);
    if (input.size >= InstallerReadLimit)
        throw Failure(input.shown + ": is 2 GiB or more; an entry must be smaller")
            .About(input.role);
}

std::vector<Input> GatherInputs(const MakeRequest& o) {
    if (!o.files.empty() && !o.data)
        throw Failure("the files after the data file become entries 2 and on, and entry 1 is "
                      "always the data file",
                      2)
            .Missing("data");
    std::vector<Input> inputs;
    inputs.push_back({&o.saver, o.saver.shown, "saver", 0, ""});
    if (o.data)
        inputs.push_back({&*o.data, o.data->shown, "data", 0, ""});
    for (const Source& f : o.files)
        inputs.push_back({&f, f.shown, "files", 0, ""});
    for (size_t i = 2; i < inputs.size(); ++i)
        inputs[i].extension = ExtensionOf(inputs[i]);
    for (Input& input : inputs)
        CheckSize(input);
    return inputs;
}

std::vector<uint8_t> LoadStub(const MakeRequest& o) {
    std::vector<uint8_t> stub = o.stub();
    try {
        pkg::CheckStubLayout(stub);
    } catch (const pkg::PackageError& e) {
        throw Failure((o.stubShown.empty() ? std::string("the built-in stub") : o.stubShown) +
                      ": cannot serve as the installer stub: " + e.what());
    }
    return stub;
}

// The bytes packed so far, passed on to the front end's hook.
struct Progress {
    const MakeHooks& hooks;
    uint64_t total;
    void Reached(uint64_t done) const {
        if (hooks.progress)
            hooks.progress(done, total);
    }
};

// The stream when it is smaller, checked by decoding it again; the bytes as
// they are otherwise.
pkg::EntryToWrite Pack(std::vector<uint8_t> bytes, const Input& input, const MakeRequest& o,
                       const Progress& progress, uint64_t doneBefore) {
    pkg::EntryToWrite entry;
    entry.extension = input.extension;
    if (!o.store) {
        std::vector<uint8_t> stream = EncodeSmaller(
            bytes, o.level, [&](size_t done) { progress.Reached(doneBefore + done); });
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

// The version resource's content, checked: a text or version Windows would
// not show as given is refused, naming the installer it was meant for.
std::optional<VersionInfo> VersionOf(const MakeRequest& o) {
    if (!o.productVersion && !o.company && !o.description && !o.copyright)
        return std::nullopt;
    VersionInfo info;
    if (o.productVersion) {
        std::string why = VersionProblem(*o.productVersion, info.version);
        if (!why.empty())
            throw Failure(why).InText("version", o.out, *o.productVersion);
        info.versionText = std::to_string(info.version[0]);
        size_t given = size_t(std::count(o.productVersion->begin(), o.productVersion->end(), '.'));
        for (size_t i = 1; i <= given; ++i)
            info.versionText += "." + std::to_string(info.version[i]);
    }
    const struct {
        const char* input;
        const std::optional<std::string>& given;
        std::string& field;
    } texts[] = {
        {"company", o.company, info.company},
        {"description", o.description, info.description},
        {"copyright", o.copyright, info.copyright},
    };
    for (const auto& t : texts) {
        if (!t.given)
            continue;
        std::string why = VersionTextProblem(*t.given);
        if (!why.empty())
            throw Failure(why).InText(t.input, o.out, std::nullopt);
        t.field = *t.given;
    }
    if (!o.description)
        info.description = o.title + " Screen Saver Installation";
    info.productName = o.title + " Screen Saver";
    info.originalFilename = o.outName;
    return info;
}

Identity IdentityOf(const MakeRequest& o) {
    Identity identity;
    identity.version = VersionOf(o);
    if (o.icon) {
        // As for every input, a missing file is told before it is read.
        if (uint64_t size = o.icon->size(); size > MostIconFileSize)
            throw Failure(o.icon->shown + ": is " + Thousands(size) +
                          " bytes, more than an icon of " + std::to_string(MostIconImages) +
                          " images of 256 pixels can take")
                .About("icon");
        try {
            identity.icon = ParseIconFile(o.icon->load(), o.icon->shown);
        } catch (Failure& e) {
            throw e.About("icon");
        }
    }
    return identity;
}

// What create judges before it reads an input whole.
struct Judged {
    std::string title; // Windows-1252
    Identity identity;
    std::vector<Input> inputs;
};

Judged Judge(const MakeRequest& o, const MakeHooks& hooks) {
    std::string nameError = InstallerNameError(o.outName);
    if (!nameError.empty())
        throw Failure((o.out.empty() ? "" : o.out + ": ") + nameError, 2).About("name");
    if (hooks.nameJudged)
        hooks.nameJudged();
    for (const std::string& w : InstallerNameWarnings(o.outName))
        if (hooks.warn)
            hooks.warn(w);
    Judged j;
    std::string bad;
    if (!TitleProblem(o.title).empty() || !Utf8ToWindows1252(o.title, j.title, bad))
        throw Failure(TitleProblem(o.title), 2).About("title");
    j.identity = IdentityOf(o);
    j.inputs = GatherInputs(o);
    return j;
}

PackedEntry Placed(const MakeRequest& o, const Input& input, uint32_t index) {
    return {
        input.shown,
        InstalledPath(NamesOf(o.outName), index, uint16_t(o.firstNumber), input.extension.c_str()),
        input.size, 0, false};
}

} // namespace

Source SourceOf(const std::string& name, std::vector<uint8_t> bytes) {
    auto held = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    return {name, name, [held] { return uint64_t(held->size()); },
            [held] { return std::move(*held); }};
}

MakePlan PlanInstaller(const MakeRequest& o, const MakeHooks& hooks) {
    Judged j = Judge(o, hooks);
    MakePlan plan;
    for (size_t i = 0; i < j.inputs.size(); ++i) {
        plan.entries.push_back(Placed(o, j.inputs[i], uint32_t(i)));
        plan.installSize += uint32_t(j.inputs[i].size);
    }
    plan.identity = std::move(j.identity);
    return plan;
}

MadeInstaller MakeInstaller(const MakeRequest& o, const MakeHooks& hooks) {
    Judged judged = Judge(o, hooks);
    const std::string& title = judged.title;
    const std::vector<Input>& inputs = judged.inputs;
    MadeInstaller made;
    made.identity = std::move(judged.identity);
    std::vector<uint8_t> stub = LoadStub(o);
    if (!made.identity.icon.empty() || made.identity.version) {
        try {
            stub = WithIdentity(stub, made.identity);
        } catch (const pkg::PackageError& e) {
            throw Failure((o.stubShown.empty() ? std::string("the built-in stub") : o.stubShown) +
                          ": cannot take the installer's icon and version: " + e.what());
        }
    }
    if (hooks.beforePacking)
        hooks.beforePacking();

    pkg::PackageToWrite package;
    package.title = title;
    package.firstFileNumber = uint16_t(o.firstNumber);
    uint64_t total = 0, done = 0;
    for (const Input& input : inputs)
        total += input.size;
    {
        Progress progress{hooks, total};
        for (const Input& input : inputs) {
            progress.Reached(done);
            package.entries.push_back(Pack(input.source->load(), input, o, progress, done));
            done += input.size;
        }
        progress.Reached(done);
    }

    for (size_t i = 0; i < inputs.size(); ++i) {
        made.entries.push_back(Placed(o, inputs[i], uint32_t(i)));
        made.entries.back().stored = package.entries[i].stored.size();
        made.entries.back().compressed = package.entries[i].originalSize != 0;
    }
    try {
        made.installer = pkg::WriteInstallerPieces(stub, std::move(package));
    } catch (const pkg::PackageError& e) {
        throw Failure(o.out + ": " + e.what());
    }
    return made;
}

std::string SummaryText(const MakeRequest& o, const MadeInstaller& made, uint64_t installerSize,
                        double seconds) {
    std::string out;
    const Identity& identity = made.identity;
    if (!identity.icon.empty()) {
        std::string sizes;
        for (const IconImage& image : identity.icon)
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(image.Width()) + "x" +
                     std::to_string(image.Height()) + (image.Png() ? " PNG" : "");
        AppendFormat(out, "  icon: %s (%s)\n", o.icon->shown.c_str(), sizes.c_str());
    }
    if (identity.version)
        AppendFormat(out, "  version information: %s\n",
                     identity.version->versionText.empty() ? "without a version (0.0.0.0)"
                                                           : identity.version->versionText.c_str());
    uint64_t in = 0;
    for (const PackedEntry& e : made.entries) {
        std::string place = PlaceInWords(e.path);
        std::string method =
            e.compressed ? "-> " + Thousands(e.stored) + " (" + Percent(e.stored, e.size) + ")"
                         : "stored";
        AppendFormat(out, "  %-52s %s, %s bytes %s\n", place.c_str(), e.shown.c_str(),
                     Thousands(e.size).c_str(), method.c_str());
        in += e.size;
    }
    size_t count = made.entries.size();
    AppendFormat(out, "%s: %zu entr%s, %s bytes in, %s bytes out (%s), %.2f s\n", o.out.c_str(),
                 count, count == 1 ? "y" : "ies", Thousands(in).c_str(),
                 Thousands(installerSize).c_str(), Percent(installerSize, in).c_str(), seconds);
    return out;
}

UserTexts TextsTheUserSees(const std::string& outName, const std::string& title,
                           uint32_t installSize, const std::string& windowsDirectory) {
    // The installer's own buffers and code: what fits there is what it shows.
    // The installer holds the title and knows its own name in Windows-1252.
    std::string title1252, name1252, bad;
    if (!Utf8ToWindows1252(title, title1252, bad))
        title1252 = title;
    if (!Utf8ToWindows1252(outName, name1252, bad))
        name1252 = outName;
    char saverTitle[TitleBufferSize] = {};
    CopyText(saverTitle, sizeof saverTitle, title1252.c_str());
    TrimTrailingBlanks(saverTitle);
    char caption[CaptionSize], text[MessageSize];
    ComposeCaption(caption, sizeof caption, saverTitle);
    std::string path = windowsDirectory + "\\" + name1252;
    char saverFileName[PathSize];
    if (!SaverFileNameOf(path.c_str(), saverFileName, sizeof saverFileName))
        saverFileName[0] = 0;
    char windows[PathSize];
    CopyText(windows, sizeof windows, windowsDirectory.c_str());
    UppercaseAscii(windows);
    UserTexts texts;
    texts.caption = Windows1252ToUtf8(caption);
    ComposeConfirmation(text, sizeof text, saverFileName, saverTitle, windows, installSize);
    texts.confirmation = Windows1252ToUtf8(text);
    ComposeCompletion(text, sizeof text, windowsDirectory.c_str(), path.c_str());
    texts.completion = Windows1252ToUtf8(text);
    return texts;
}

} // namespace saverpack
