// The page's way into the core, built to WebAssembly: requests and files as
// JavaScript objects and byte arrays in, results as plain objects out, the
// bytes as views of the module's memory that the page copies at once. The
// only file that includes <emscripten/bind.h>.
#include "package/format.h"
#include "tools/saverpack/create.h"
#include "tools/saverpack/extract.h"
#include "tools/saverpack/report.h"

#include <emscripten/bind.h>

#include <chrono>
#include <map>
#include <new>

namespace saverpack {

extern const unsigned char EmbeddedStub[];
extern const size_t EmbeddedStubSize;

namespace {

using emscripten::val;

// Where the preview shows the user's Windows directory; the installer asks
// Windows for it.
const char* const ShownWindowsDirectory = "C:\\Windows";

std::vector<uint8_t> BytesOf(const val& array) {
    return emscripten::convertJSArrayToNumberVector<uint8_t>(array);
}

// Once the module holds its own copy of a page's bytes, they are let go at
// once, not when the collector gets to them, so that a large input is not
// held twice while it is packed: transferring a buffer frees its bytes.
void LetGo(const val& bytes) {
    val buffer = bytes["buffer"];
    if (!buffer["transfer"].isUndefined())
        buffer.call<val>("transfer", 0);
}

// The large files of the next make, received in slices, by the page's number.
std::map<int, std::vector<uint8_t>> Received;

// A file from the page: {name, size} for a preview; to make, {name, bytes},
// or {name, size, received} for one that came in slices.
Source SourceFrom(val file) {
    std::string name = file["name"].as<std::string>();
    uint64_t size = file["bytes"].isUndefined() ? uint64_t(file["size"].as<double>())
                                                : uint64_t(file["bytes"]["length"].as<double>());
    if (!file["received"].isUndefined()) {
        int id = file["received"].as<int>();
        return {name, name, [size] { return size; },
                [id] {
                    auto node = Received.extract(id);
                    return node ? std::move(node.mapped()) : std::vector<uint8_t>();
                }};
    }
    return {name, name, [size] { return size; },
            [file]() mutable {
                std::vector<uint8_t> bytes = BytesOf(file["bytes"]);
                LetGo(file["bytes"]);
                file.set("bytes", val::null());
                return bytes;
            }};
}

std::optional<std::string> TextField(const val& request, const char* name) {
    val v = request[name];
    if (v.isNull() || v.isUndefined())
        return std::nullopt;
    return v.as<std::string>();
}

MakeRequest RequestFrom(const val& r) {
    MakeRequest request;
    request.outName = r["out"].as<std::string>();
    request.out = request.outName;
    request.title = r["title"].as<std::string>();
    request.saver = SourceFrom(r["saver"]);
    if (!r["data"].isNull() && !r["data"].isUndefined())
        request.data = SourceFrom(r["data"]);
    val files = r["files"];
    for (unsigned i = 0, n = files["length"].as<unsigned>(); i < n; ++i)
        request.files.push_back(SourceFrom(files[i]));
    if (r["level"].isString())
        ChooseLevel(r["level"].as<std::string>(), request);
    request.stub = [] {
        return std::vector<uint8_t>(EmbeddedStub, EmbeddedStub + EmbeddedStubSize);
    };
    if (!r["icon"].isNull() && !r["icon"].isUndefined())
        request.icon = SourceFrom(r["icon"]);
    request.productVersion = TextField(r, "productVersion");
    request.company = TextField(r, "company");
    request.description = TextField(r, "description");
    request.copyright = TextField(r, "copyright");
    return request;
}

val ErrorOf(const std::string& message, const std::string& input) {
    val error = val::object();
    error.set("message", message);
    error.set("input", input);
    error.set("fault", "any");
    return error;
}

// The page words it with its labels: it needs what is wrong, not an option.
val ErrorOf(const Failure& e) {
    val error = ErrorOf(e.what(), e.input);
    if (e.fault == Failure::Fault::Missing)
        error.set("fault", "missing");
    if (e.fault == Failure::Fault::Text) {
        error.set("fault", "text");
        error.set("given", e.given ? val(*e.given) : val::null());
    }
    return error;
}

// Runs `work`, which fills `result`; what it throws becomes result.error.
template <typename Work> val Guarded(Work work) {
    val result = val::object();
    result.set("error", val::null());
    try {
        work(result);
    } catch (const Failure& e) {
        result.set("error", ErrorOf(e));
    } catch (const std::bad_alloc&) {
        result.set("error", ErrorOf("not enough memory: the browser gives this page too little "
                                    "for these files; saverpack create can make it",
                                    ""));
    } catch (const std::exception& e) {
        result.set("error", ErrorOf(std::string("internal error: ") + e.what(), ""));
    }
    return result;
}

val Strings(const std::vector<std::string>& strings) {
    val array = val::array();
    for (const std::string& s : strings)
        array.call<void>("push", s);
    return array;
}

val EntryLines(const std::vector<PackedEntry>& entries) {
    val lines = val::array();
    for (const PackedEntry& e : entries) {
        val line = val::object();
        line.set("place", PlaceInWords(e.path));
        line.set("shown", e.shown);
        line.set("size", double(e.size));
        line.set("sizeText", Thousands(e.size));
        lines.call<void>("push", line);
    }
    return lines;
}

// The installed names, the install size and the user's texts for what the
// form holds now, from sizes alone; refused as create would refuse it.
val Preview(val r) {
    return Guarded([&](val& result) {
        MakeRequest request = RequestFrom(r);
        std::vector<std::string> warnings;
        MakeHooks hooks;
        hooks.warn = [&](const std::string& w) { warnings.push_back(w); };
        MakePlan plan = PlanInstaller(request, hooks);
        uint32_t installSize = plan.installSize;
        UserTexts texts =
            TextsTheUserSees(request.outName, request.title, installSize, ShownWindowsDirectory);
        result.set("entries", EntryLines(plan.entries));
        result.set("installSize", double(installSize));
        result.set("installSizeText", Thousands(installSize));
        result.set("caption", texts.caption);
        result.set("confirmation", texts.confirmation);
        result.set("completion", texts.completion);
        result.set("warnings", Strings(warnings));
    });
}

pkg::InstallerPieces Made; // the last installer made, until the next

// One slice of file `id`, `size` bytes in all, appended to what came before.
val Receive(int id, double size, val slice) {
    return Guarded([&](val&) {
        std::vector<uint8_t>& whole = Received[id];
        if (whole.capacity() == 0)
            whole.reserve(size_t(size));
        size_t at = whole.size(), count = slice["length"].as<size_t>();
        if (at + count > size_t(size))
            throw Failure("a file grew while the page read it; choose it again");
        whole.resize(at + count);
        val(emscripten::typed_memory_view(count, whole.data() + at)).call<void>("set", slice);
        LetGo(slice);
    });
}

val Make(val r, val progress) {
    Made = {};
    val answer = Guarded([&](val& result) {
        auto start = std::chrono::steady_clock::now();
        MakeRequest request = RequestFrom(r);
        std::vector<std::string> warnings;
        MakeHooks hooks;
        hooks.warn = [&](const std::string& w) { warnings.push_back(w); };
        hooks.progress = [&](uint64_t done, uint64_t total) {
            progress(double(done), double(total));
        };
        MadeInstaller made = MakeInstaller(request, hooks);
        Made = std::move(made.installer);
        std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        // In its pieces, views of the module's memory: the worker's Blob
        // copies each, and the module never holds the whole beside them.
        val pieces = val::array();
        for (const std::vector<uint8_t>& piece : Made.pieces)
            pieces.call<void>("push",
                              val(emscripten::typed_memory_view(piece.size(), piece.data())));
        result.set("installer", pieces);
        result.set("size", double(Made.Size()));
        result.set("summary", SummaryText(request, made, Made.Size(), seconds.count()));
        result.set("seconds", seconds.count());
        result.set("warnings", Strings(warnings));
    });
    Received.clear(); // what a make did not take is not for the next
    return answer;
}

// The installer last opened, for its extraction.
struct OpenedInstaller {
    std::vector<uint8_t> bytes;
    Examination x;
    std::vector<ExtractTarget> targets;
};
OpenedInstaller Opened;
std::vector<uint8_t> Extracted;

val IconPictures(const pkg::ByteSource& file, const Examination& x) {
    val pictures = val::array();
    std::map<uint16_t, const Resource*> byId;
    std::vector<Resource> resources;
    if (x.layoutKnown) {
        try {
            resources = ReadResources(file, x.layout);
        } catch (const pkg::PackageError&) {
            // verify names what is wrong with the tree; no pictures then
        }
    }
    for (const Resource& r : resources)
        if (!r.type.named && r.type.id == RtIcon && !r.name.named)
            byId.emplace(r.name.id, &r);
    for (const IconEntryView& icon : x.identity.icon) {
        auto found = byId.find(icon.id);
        if (found == byId.end()) {
            pictures.call<void>("push", val::null());
            continue;
        }
        std::vector<uint8_t> ico = IconFileOf(found->second->data, icon);
        val bytes = val(emscripten::typed_memory_view(ico.size(), ico.data()));
        pictures.call<void>("push", bytes.call<val>("slice"));
    }
    return pictures;
}

// list and verify of an installer, and what extract would write.
val Open(std::string name, val bytes) {
    Opened = {};
    return Guarded([&](val& result) {
        Opened.bytes = BytesOf(bytes);
        pkg::MemoryBytes file(Opened.bytes);
        Opened.x = Examine(file, name);
        Examination& x = Opened.x;
        RequireListable(name, x);
        result.set("json", ListJson(name, x, ""));
        result.set("text", ListText(name, x, ""));
        result.set("signed", x.signature.present);
        result.set("icons", IconPictures(file, x));
        std::vector<std::string> places; // each entry's, as list shows it
        for (const EntryView& e : x.entries)
            places.push_back(ShownPlace(e.path));
        result.set("places", Strings(places));
        Examination checked = x;
        Verdict v = VerifyInstaller(file, checked, name);
        result.set("verdict", v.text);
        result.set("sound", v.sound);
        val entries = val::array();
        std::string cannot;
        try {
            Opened.targets = ExtractionOf(file, name, checked);
        } catch (const Failure& e) {
            cannot = e.what();
        }
        for (size_t i = 0; i < Opened.targets.size(); ++i) {
            val entry = val::object();
            entry.set("target", unsigned(i));
            entry.set("index", unsigned(Opened.targets[i].entry));
            entry.set("path", WindowsPath(Opened.targets[i].path));
            entries.call<void>("push", entry);
        }
        result.set("extract", entries);
        result.set("cannotExtract", cannot);
    });
}

// The installed bytes of extraction target `target` of the installer last
// opened.
val Extract(unsigned target) {
    Extracted.clear();
    return Guarded([&](val& result) {
        if (target >= Opened.targets.size())
            throw Failure("no such file in the installer");
        pkg::MemoryBytes file(Opened.bytes);
        Extracted = RestoredBytes(file, Opened.x.entries[Opened.targets[target].entry].entry);
        result.set("bytes", val(emscripten::typed_memory_view(Extracted.size(), Extracted.data())));
    });
}

// The compression choices, the default first, for the form to offer.
val Levels() {
    return Strings(LevelChoices());
}

// The browser first runs a module's code as it compiled it quickly, and
// makes the functions that run much fast while they run: the first make
// would pay for that. Packing the stub at each level while the author is
// still choosing files pays it beforehand.
void Warm() {
    std::vector<uint8_t> stub(EmbeddedStub, EmbeddedStub + EmbeddedStubSize);
    for (int round = 0; round < 4; ++round)
        for (size_t i = 0; i < OfferedLevelCount; ++i)
            (void)DecodesTo(EncodeSmaller(stub, OfferedLevels[i]), stub);
}

} // namespace
} // namespace saverpack

EMSCRIPTEN_BINDINGS(saverpack) {
    emscripten::function("warm", &saverpack::Warm);
    emscripten::function("preview", &saverpack::Preview);
    emscripten::function("make", &saverpack::Make);
    emscripten::function("open", &saverpack::Open);
    emscripten::function("extract", &saverpack::Extract);
    emscripten::function("receive", &saverpack::Receive);
    emscripten::function("levels", &saverpack::Levels);
}
