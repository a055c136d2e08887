// saverpack list and verify: what the installer will find, and whether it
// can rely on it.
#include "tools/saverpack/commands.h"

#include "tools/saverpack/examine.h"

#include <cstdio>

namespace saverpack {
namespace {

// A verify that finds thousands of problems in a hostile file says so
// without printing them all.
const size_t MostFindingsShown = 100;

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// Controls in a title or name from a hostile package would play tricks on a
// terminal: shown as '?'. That includes the C1 controls, which the bytes
// Windows-1252 leaves undefined become.
std::string Printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        bool c1 = c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
                  (unsigned char)text[i + 1] < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            out += '?';
            i += c1;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string Ratio(const PackageEntry& e) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  100.0 * double(e.StoredSize) / double(pkg::InstalledSize(e)));
    return text;
}

std::string ShownPlace(const EntryView& v) {
    return v.path.size() == 1 ? Printable(v.path[0]) : "...\\" + Printable(WindowsPath(v.path));
}

std::string IconText(const IconEntryView& icon) {
    return std::to_string(icon.width) + "x" + std::to_string(icon.height) + " " +
           std::to_string(icon.bitCount) + "-bit" + (icon.png ? " PNG" : "") +
           (icon.present ? "" : " (missing)");
}

void PrintIdentity(const IdentityView& id) {
    std::string icons;
    for (const IconEntryView& icon : id.icon)
        icons += (icons.empty() ? "" : ", ") + IconText(icon);
    std::printf("  icon               %s\n", icons.empty() ? "(none)" : icons.c_str());
    if (!id.hasVersion) {
        std::printf("  version            (none)\n");
        return;
    }
    std::printf("  file version       %s\n", id.fileVersion.c_str());
    std::printf("  product version    %s\n", id.productVersion.c_str());
    for (const auto& [key, value] : id.strings)
        std::printf("  %-18s %s\n", Printable(key).c_str(), Printable(value).c_str());
}

void PrintIdentityJson(const IdentityView& id) {
    std::printf("  \"icon\": [");
    for (size_t i = 0; i < id.icon.size(); ++i) {
        const IconEntryView& icon = id.icon[i];
        std::printf("%s\n    {\"width\": %u, \"height\": %u, \"bitCount\": %u, \"bytes\": %u, "
                    "\"format\": \"%s\", \"id\": %u, \"present\": %s}",
                    i ? "," : "", icon.width, icon.height, icon.bitCount, unsigned(icon.bytes),
                    icon.png ? "png" : "bmp", unsigned(icon.id), icon.present ? "true" : "false");
    }
    std::printf("%s],\n", id.icon.empty() ? "" : "\n  ");
    if (!id.hasVersion) {
        std::printf("  \"version\": null,\n");
        return;
    }
    std::printf("  \"version\": {\"fileVersion\": %s, \"productVersion\": %s, \"strings\": {",
                JsonString(id.fileVersion).c_str(), JsonString(id.productVersion).c_str());
    for (size_t i = 0; i < id.strings.size(); ++i)
        std::printf("%s%s: %s", i ? ", " : "", JsonString(id.strings[i].first).c_str(),
                    JsonString(id.strings[i].second).c_str());
    std::printf("}},\n");
}

struct Opened {
    fs::path path;
    FileBytes file;
    Examination x;
    explicit Opened(const std::string& installer)
        : path(PathOf(installer)), file(path), x(Examine(file, TextOf(path.filename()))) {}
};

std::string SignerOf(const Opened& o) {
    if (!o.x.signature.present)
        return "";
    SignatureCheck c = CheckSignature(o.path, "");
    return c.subject.empty() ? "(signed; " + c.detail + ")" : c.subject;
}

void PrintText(const std::string& installer, const Opened& o, const std::string& signer) {
    const pkg::PackageDirectory& d = o.x.directory;
    std::printf("%s\n", installer.c_str());
    std::printf("  title              %s\n", Printable(TitleOf(d)).c_str());
    std::printf("  first file number  %u\n", unsigned(d.firstFileNumber));
    std::printf("  install size       %s bytes\n", Thousands(d.totalInstallSize).c_str());
    std::printf("  signed by          %s\n", signer.empty() ? "(not signed)" : signer.c_str());
    PrintIdentity(o.x.identity);
    std::printf("\n  %5s  %-48s %13s %13s %13s  %-10s %6s\n", "entry", "installed as", "offset",
                "stored", "original", "method", "ratio");
    for (size_t i = 0; i < o.x.entries.size(); ++i) {
        const PackageEntry& e = o.x.entries[i].entry;
        std::printf("  %5zu  %-48s %13s %13s %13s  %-10s %6s\n", i,
                    ShownPlace(o.x.entries[i]).c_str(), Thousands(e.FileOffset).c_str(),
                    Thousands(e.StoredSize).c_str(), Thousands(pkg::InstalledSize(e)).c_str(),
                    e.OriginalSize ? "compressed" : "stored", Ratio(e).c_str());
    }
}

void PrintJson(const std::string& installer, const Opened& o, const std::string& signer) {
    const pkg::PackageDirectory& d = o.x.directory;
    std::printf("{\n  \"installer\": %s,\n", JsonString(installer).c_str());
    std::printf("  \"title\": %s,\n", JsonString(TitleOf(d)).c_str());
    std::printf("  \"firstFileNumber\": %u,\n", unsigned(d.firstFileNumber));
    std::printf("  \"totalInstallSize\": %u,\n", unsigned(d.totalInstallSize));
    std::printf("  \"totalInstallSizeText\": %s,\n",
                JsonString(Thousands(d.totalInstallSize)).c_str());
    std::printf("  \"signer\": %s,\n", signer.empty() ? "null" : JsonString(signer).c_str());
    PrintIdentityJson(o.x.identity);
    std::printf("  \"entries\": [");
    for (size_t i = 0; i < o.x.entries.size(); ++i) {
        const EntryView& v = o.x.entries[i];
        const PackageEntry& e = v.entry;
        std::printf("%s\n    {\"index\": %zu, \"path\": %s, \"inWindowsDirectory\": %s, "
                    "\"fileOffset\": %u, \"storedSize\": %u, \"originalSize\": %u, "
                    "\"method\": \"%s\", \"ratio\": %.4f}",
                    i ? "," : "", i, JsonString(WindowsPath(v.path)).c_str(),
                    i == 0 ? "true" : "false", unsigned(e.FileOffset), unsigned(e.StoredSize),
                    unsigned(pkg::InstalledSize(e)), e.OriginalSize ? "compressed" : "stored",
                    double(e.StoredSize) / double(pkg::InstalledSize(e)));
    }
    std::printf("%s]\n}\n", o.x.entries.empty() ? "" : "\n  ");
}

} // namespace

int List(const std::string& installer, bool json) {
    Opened o(installer);
    if (!o.x.where.found || o.x.directory.entries.empty()) {
        for (const Finding& f : o.x.findings)
            if (f.stopsExtract)
                throw Failure(installer + ": " + f.text);
    }
    std::string signer = SignerOf(o);
    if (json)
        PrintJson(installer, o, signer);
    else
        PrintText(installer, o, signer);
    if (!o.x.Sound())
        std::fprintf(stderr,
                     "saverpack: %s: the package has problems; saverpack verify names "
                     "them\n",
                     installer.c_str());
    return 0;
}

int Verify(const std::string& installer, const std::string& caFile) {
    Opened o(installer);
    Examination& x = o.x;
    CheckStreams(o.file, x);
    CheckChecksum(o.file, x);
    std::string signer;
    if (x.signature.present) {
        SignatureCheck c = CheckSignature(o.path, caFile);
        signer = c.subject;
        if (!c.intact)
            x.findings.push_back({true, false, "signature: " + c.detail});
        else if (!c.trusted && !caFile.empty())
            x.findings.push_back(
                {true, false,
                 "signature: its signer is not trusted by " + caFile + ": " + c.detail});
        else if (!c.trusted)
            x.findings.push_back({false, false,
                                  "signature: intact, but its signer is not "
                                  "trusted by the system's certificates: " +
                                      c.detail});
    }
    size_t problems = 0;
    for (size_t i = 0; i < x.findings.size(); ++i) {
        const Finding& f = x.findings[i];
        problems += f.problem;
        if (i < MostFindingsShown)
            std::printf("%s: %s: %s\n", installer.c_str(), f.problem ? "problem" : "warning",
                        Printable(f.text).c_str());
    }
    if (x.findings.size() > MostFindingsShown)
        std::printf("%s: and %zu more\n", installer.c_str(), x.findings.size() - MostFindingsShown);
    if (problems) {
        std::printf("%s: not sound: %zu problem%s\n", installer.c_str(), problems,
                    problems == 1 ? "" : "s");
        return 1;
    }
    std::printf("%s: sound: %zu entries, %s bytes to install%s%s\n", installer.c_str(),
                x.entries.size(), Thousands(x.directory.totalInstallSize).c_str(),
                signer.empty() ? "" : ", signed by ", signer.c_str());
    return 0;
}

} // namespace saverpack
