#include "tools/saverpack/names.h"

#include "text/text.h"
#include "tools/saverpack/failure.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace saverpack {
namespace {

// The characters of the bytes 0x80 to 0x9F in Windows-1252; 0 where the
// code page has none (0x81, 0x8D, 0x8F, 0x90, 0x9D). From 0xA0 on, a byte is
// the character of the same value.
const uint16_t Windows1252From80[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Names Windows gives to devices: a file of such a name, with or without an
// extension, cannot be made.
const char* const ReservedDeviceNames[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

// The characters Windows refuses in a file name, besides the controls.
const char ForbiddenInFileNames[] = "<>:\"/\\|?*";

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

bool ForbiddenInFileName(unsigned char c) {
    return c < 0x20 || (c != 0 && std::strchr(ForbiddenInFileNames, c) != nullptr);
}

// Decodes one UTF-8 sequence at `at`; false for a malformed, overlong or
// surrogate one.
bool DecodeUtf8(const std::string& s, size_t& at, uint32_t& code) {
    unsigned char c = (unsigned char)s[at];
    int length = c < 0x80             ? 1
                 : (c & 0xE0) == 0xC0 ? 2
                 : (c & 0xF0) == 0xE0 ? 3
                 : (c & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (length == 0 || at + length > s.size())
        return false;
    code = length == 1 ? c : c & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        unsigned char next = (unsigned char)s[at + i];
        if ((next & 0xC0) != 0x80)
            return false;
        code = code << 6 | (next & 0x3F);
    }
    static const uint32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < Smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    at += length;
    return true;
}

int Windows1252Of(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return int(code);
    for (int i = 0; i < 32; ++i)
        if (Windows1252From80[i] != 0 && Windows1252From80[i] == code)
            return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | code >> 18);
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

// Windows takes the part before the first '.', trailing blanks dropped, for
// the device test: CON, con.txt and "CON .SCR" are all the console.
bool IsReservedDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (const char* reserved : ReservedDeviceNames)
        if (Upper(stem) == reserved)
            return true;
    return false;
}

} // namespace

bool Utf8ToWindows1252(const std::string& utf8, std::string& out, std::string& bad) {
    out.clear();
    for (size_t at = 0; at < utf8.size();) {
        uint32_t code;
        size_t start = at;
        if (!DecodeUtf8(utf8, at, code)) {
            bad = "bytes that are not UTF-8";
            return false;
        }
        int byte = Windows1252Of(code);
        if (byte < 0) {
            char text[64];
            std::snprintf(text, sizeof text, "U+%04X", unsigned(code));
            bad = "\"" + utf8.substr(start, at - start) + "\" (" + text +
                  "), which Windows-1252 cannot hold";
            return false;
        }
        out += char(byte);
    }
    return true;
}

std::string Windows1252ToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        uint32_t code = c;
        if (c >= 0x80 && c < 0xA0 && Windows1252From80[c - 0x80] != 0)
            code = Windows1252From80[c - 0x80];
        AppendUtf8(out, code);
    }
    return out;
}

bool Utf8ToUtf16(const std::string& utf8, std::u16string& out, size_t& characters) {
    out.clear();
    characters = 0;
    for (size_t at = 0; at < utf8.size(); ++characters) {
        uint32_t code;
        if (!DecodeUtf8(utf8, at, code))
            return false;
        if (code < 0x10000) {
            out += char16_t(code);
        } else {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t code = utf16[i];
        bool pair = code >= 0xD800 && code < 0xDC00 && i + 1 < utf16.size() &&
                    utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000;
        if (pair)
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD; // a lone surrogate, from a hostile file
        AppendUtf8(out, code);
    }
    return out;
}

std::string TitleProblem(const std::string& utf8Title) {
    std::string title, bad;
    if (!Utf8ToWindows1252(utf8Title, title, bad))
        return "the title holds " + bad;
    for (unsigned char c : title)
        if (IsControl(c))
            return "the title holds a control character";
    if (title.size() > TitleSize)
        return "the title is " + std::to_string(title.size()) + " characters long; the limit is " +
               std::to_string(TitleSize) + " single-byte characters";
    // The installer would greet the user with "( Screen Saver)".
    if (title.find_first_not_of(' ') == std::string::npos)
        return "the title is empty";
    return "";
}

InstallerNames NamesOf(const std::string& installerFileName) {
    // The installer's own helpers, so the names cannot drift from its own.
    char base[PathSize] = {}, saver[PathSize] = {};
    BaseName(installerFileName.c_str(), base, sizeof base);
    SaverFileNameOf(installerFileName.c_str(), saver, sizeof saver);
    return InstallerNames{base, saver};
}

std::vector<std::string> InstalledPath(const InstallerNames& names, uint32_t index,
                                       uint16_t firstFileNumber, const char* extension) {
    if (index == 0)
        return {names.saverFileName};
    std::vector<std::string> path(1);
    for (const char* c = DataParentFolders; *c; ++c)
        if (*c == '\\')
            path.emplace_back();
        else
            path.back() += *c;
    path.back() = names.baseName; // the one after the last parent's backslash
    // Room for the longest base name and the longest FILE name there can be.
    char name[PathSize + 32] = {};
    AppendDataFileName(name, sizeof name, index, names.baseName.c_str(), firstFileNumber,
                       std::string(extension, strnlen(extension, ExtensionSize)).c_str());
    path.push_back(name);
    return path;
}

std::string WindowsPath(const std::vector<std::string>& components) {
    std::string path;
    for (const std::string& c : components)
        path += (path.empty() ? "" : "\\") + c;
    return path;
}

std::string ShownPlace(const std::vector<std::string>& components) {
    return components.size() == 1 ? components[0] : "...\\" + WindowsPath(components);
}

std::string PlaceInWords(const std::vector<std::string>& components) {
    return ShownPlace(components) + (components.size() == 1 ? " in the Windows directory" : "");
}

std::string ExtensionProblem(const char* extension) {
    std::string field(extension, ExtensionSize);
    size_t nul = field.find('\0');
    if (nul != std::string::npos && field.find_first_not_of('\0', nul) != std::string::npos)
        return "a NUL before other characters";
    field = field.substr(0, nul);
    for (unsigned char c : field) {
        if (c == '/' || c == '\\')
            return "a path separator";
        if (c == ':')
            return "':'";
        if (IsControl(c))
            return "a control character";
        if (ForbiddenInFileName(c))
            return "a character Windows does not allow in a file name";
    }
    if (field.find("..") != std::string::npos)
        return "\"..\"";
    return "";
}

std::string InstallerNameError(const std::string& fileName) {
    if (fileName.empty())
        return "the installer has no file name";
    // The installer keeps the saver's name, its name up to the first '.'
    // and ".SCR", and its data folder's, up to the last '.', in a Windows
    // path; longer, neither could be formed at all.
    const size_t limit = PathSize - 1 - 4;
    std::string name = fileName.substr(fileName.rfind('\\') + 1);
    size_t longest = name.rfind('.') == std::string::npos ? name.size() : name.rfind('.');
    if (longest > limit)
        return "its name is too long: " + std::to_string(longest) +
               " characters before its extension, where the installer keeps at most " +
               std::to_string(limit);
    InstallerNames names = NamesOf(fileName);
    if (names.baseName.empty() || names.baseName == "." || names.baseName == "..")
        return "its name gives the data folder the name \"" + names.baseName +
               "\", which no folder can have";
    if (names.saverFileName == ".SCR")
        return "its name gives the saver no name before \".SCR\"";
    if (IsReservedDeviceName(names.saverFileName) || IsReservedDeviceName(names.baseName))
        return "its name gives a file the name of a Windows device (CON, NUL, COM1 and the like)";
    return "";
}

std::vector<std::string> InstallerNameWarnings(const std::string& fileName) {
    std::vector<std::string> warnings;
    InstallerNames names = NamesOf(fileName);
    if (std::count(fileName.begin(), fileName.end(), '.') > 1)
        warnings.push_back("the name has several '.': the saver installs as " +
                           names.saverFileName +
                           ", the part before the first '.', and its data "
                           "folder is " +
                           names.baseName);
    for (unsigned char c : fileName)
        if (ForbiddenInFileName(c)) {
            warnings.push_back("the name holds characters Windows does not allow in a file name "
                               "(<>:\"/\\|?* or controls); rename it before it is run");
            break;
        }
    return warnings;
}

std::string Thousands(uint64_t value) {
    // The installer's own formatting for what fits its 32 bits; the
    // authoring side's sums may go further.
    char text[16];
    if (value <= 0xFFFFFFFFu)
        return FormatThousands(uint32_t(value), text);
    return Thousands(value / 1000) + "," + std::to_string(1000 + value % 1000).substr(1);
}

void AppendFormat(std::string& out, const char* format, ...) {
    va_list arguments, again;
    va_start(arguments, format);
    va_copy(again, arguments);
    int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length < 0) {
        va_end(again);
        throw Failure(std::string("internal error: the text \"") + format +
                      "\" cannot be formatted");
    }
    size_t at = out.size();
    out.resize(at + size_t(length) + 1);
    std::vsnprintf(&out[at], size_t(length) + 1, format, again);
    va_end(again);
    out.resize(at + size_t(length));
}

} // namespace saverpack
