// What list and verify say: what the installer will find, and whether it
// can rely on it.
#include "tools/saverpack/report.h"

#include "tools/saverpack/failure.h"

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
                  100.0 * double(e.StoredSize) / double(InstalledSize(e)));
    return text;
}

std::string IconText(const IconEntryView& icon) {
    return std::to_string(icon.width) + "x" + std::to_string(icon.height) + " " +
           std::to_string(icon.bitCount) + "-bit" + (icon.png ? " PNG" : "") +
           (icon.present ? "" : " (missing)");
}

void PrintIdentity(std::string& out, const IdentityView& id) {
    std::string icons;
    for (const IconEntryView& icon : id.icon)
        icons += (icons.empty() ? "" : ", ") + IconText(icon);
    AppendFormat(out, "  icon               %s\n", icons.empty() ? "(none)" : icons.c_str());
    if (!id.hasVersion) {
        AppendFormat(out, "  version            (none)\n");
        return;
    }
    AppendFormat(out, "  file version       %s\n", id.fileVersion.c_str());
    AppendFormat(out, "  product version    %s\n", id.productVersion.c_str());
    for (const auto& [key, value] : id.strings)
        AppendFormat(out, "  %-18s %s\n", Printable(key).c_str(), Printable(value).c_str());
}

void PrintIdentityJson(std::string& out, const IdentityView& id) {
    AppendFormat(out, "  \"icon\": [");
    for (size_t i = 0; i < id.icon.size(); ++i) {
        const IconEntryView& icon = id.icon[i];
        AppendFormat(out,
                     "%s\n    {\"width\": %u, \"height\": %u, \"bitCount\": %u, \"bytes\": %u, "
                     "\"format\": \"%s\", \"id\": %u, \"present\": %s}",
                     i ? "," : "", icon.width, icon.height, icon.bitCount, unsigned(icon.bytes),
                     icon.png ? "png" : "bmp", unsigned(icon.id), icon.present ? "true" : "false");
    }
    AppendFormat(out, "%s],\n", id.icon.empty() ? "" : "\n  ");
    if (!id.hasVersion) {
        AppendFormat(out, "  \"version\": null,\n");
        return;
    }
    AppendFormat(out, "  \"version\": {\"fileVersion\": %s, \"productVersion\": %s, \"strings\": {",
                 JsonString(id.fileVersion).c_str(), JsonString(id.productVersion).c_str());
    for (size_t i = 0; i < id.strings.size(); ++i)
        AppendFormat(out, "%s%s: %s", i ? ", " : "", JsonString(id.strings[i].first).c_str(),
                     JsonString(id.strings[i].second).c_str());
    AppendFormat(out, "}},\n");
}

} // namespace

std::string ListText(const std::string& installer, const Examination& x,
                     const std::string& signer) {
    std::string out;
    const pkg::PackageDirectory& d = x.directory;
    AppendFormat(out, "%s\n", installer.c_str());
    AppendFormat(out, "  title              %s\n", Printable(TitleOf(d)).c_str());
    AppendFormat(out, "  first file number  %u\n", unsigned(d.firstFileNumber));
    AppendFormat(out, "  install size       %s bytes\n", Thousands(d.totalInstallSize).c_str());
    AppendFormat(out, "  signed by          %s\n",
                 signer.empty() ? "(not signed)" : signer.c_str());
    PrintIdentity(out, x.identity);
    AppendFormat(out, "\n  %5s  %-48s %13s %13s %13s  %-10s %6s\n", "entry", "installed as",
                 "offset", "stored", "original", "method", "ratio");
    for (size_t i = 0; i < x.entries.size(); ++i) {
        const PackageEntry& e = x.entries[i].entry;
        AppendFormat(out, "  %5zu  %-48s %13s %13s %13s  %-10s %6s\n", i,
                     Printable(ShownPlace(x.entries[i].path)).c_str(),
                     Thousands(e.FileOffset).c_str(), Thousands(e.StoredSize).c_str(),
                     Thousands(InstalledSize(e)).c_str(), e.OriginalSize ? "compressed" : "stored",
                     Ratio(e).c_str());
    }
    return out;
}

std::string ListJson(const std::string& installer, const Examination& x,
                     const std::string& signer) {
    std::string out;
    const pkg::PackageDirectory& d = x.directory;
    AppendFormat(out, "{\n  \"installer\": %s,\n", JsonString(installer).c_str());
    AppendFormat(out, "  \"title\": %s,\n", JsonString(TitleOf(d)).c_str());
    AppendFormat(out, "  \"firstFileNumber\": %u,\n", unsigned(d.firstFileNumber));
    AppendFormat(out, "  \"totalInstallSize\": %u,\n", unsigned(d.totalInstallSize));
    AppendFormat(out, "  \"totalInstallSizeText\": %s,\n",
                 JsonString(Thousands(d.totalInstallSize)).c_str());
    AppendFormat(out, "  \"signer\": %s,\n", signer.empty() ? "null" : JsonString(signer).c_str());
    PrintIdentityJson(out, x.identity);
    AppendFormat(out, "  \"entries\": [");
    for (size_t i = 0; i < x.entries.size(); ++i) {
        const EntryView& v = x.entries[i];
        const PackageEntry& e = v.entry;
        AppendFormat(out,
                     "%s\n    {\"index\": %zu, \"path\": %s, \"inWindowsDirectory\": %s, "
                     "\"fileOffset\": %u, \"storedSize\": %u, \"originalSize\": %u, "
                     "\"method\": \"%s\", \"ratio\": %.4f}",
                     i ? "," : "", i, JsonString(WindowsPath(v.path)).c_str(),
                     i == 0 ? "true" : "false", unsigned(e.FileOffset), unsigned(e.StoredSize),
                     unsigned(InstalledSize(e)), e.OriginalSize ? "compressed" : "stored",
                     double(e.StoredSize) / double(InstalledSize(e)));
    }
    AppendFormat(out, "%s]\n}\n", x.entries.empty() ? "" : "\n  ");
    return out;
}

void RequireListable(const std::string& installer, const Examination& x) {
    if (!x.where.found || x.directory.entries.empty()) {
        for (const Finding& f : x.findings)
            if (f.stopsExtract)
                throw Failure(installer + ": " + f.text);
    }
}

Verdict VerifyText(const std::string& installer, const Examination& x, const std::string& signer) {
    Verdict v;
    size_t problems = 0;
    for (size_t i = 0; i < x.findings.size(); ++i) {
        const Finding& f = x.findings[i];
        problems += f.problem;
        if (i < MostFindingsShown)
            AppendFormat(v.text, "%s: %s: %s\n", installer.c_str(),
                         f.problem ? "problem" : "warning", Printable(f.text).c_str());
    }
    if (x.findings.size() > MostFindingsShown)
        AppendFormat(v.text, "%s: and %zu more\n", installer.c_str(),
                     x.findings.size() - MostFindingsShown);
    if (problems) {
        AppendFormat(v.text, "%s: not sound: %zu problem%s\n", installer.c_str(), problems,
                     problems == 1 ? "" : "s");
        return v;
    }
    v.sound = true;
    AppendFormat(v.text, "%s: sound: %zu entries, %s bytes to install%s%s\n", installer.c_str(),
                 x.entries.size(), Thousands(x.directory.totalInstallSize).c_str(),
                 signer.empty() ? "" : ", signed by ", signer.c_str());
    return v;
}

Verdict VerifyInstaller(const pkg::ByteSource& file, Examination& x, const std::string& installer,
                        const std::string& signer, const std::vector<Finding>& signatureFindings) {
    CheckStreams(file, x);
    CheckChecksum(file, x);
    x.findings.insert(x.findings.end(), signatureFindings.begin(), signatureFindings.end());
    return VerifyText(installer, x, signer);
}

} // namespace saverpack
