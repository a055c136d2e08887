// The names a package installs under, derived as the installer derives them
// from its own file name, and the text conversions of titles and names.
#pragma once

#include "package/format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace saverpack {

// UTF-8 to Windows-1252, the installer's single-byte code page. False when
// `utf8` is not valid UTF-8 or holds a character with no Windows-1252 form;
// `bad` then describes the first such character.
bool Utf8ToWindows1252(const std::string& utf8, std::string& out, std::string& bad);
// Each byte as Windows maps it: the five bytes with no character in the
// code page become the C1 controls of the same value.
std::string Windows1252ToUtf8(const std::string& bytes);

// UTF-8 to UTF-16, the text of Windows's resources; false when `utf8` is
// not valid UTF-8. `characters` counts the code points.
bool Utf8ToUtf16(const std::string& utf8, std::u16string& out, size_t& characters);
// And back; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);

// "" for a title the installer can show, else what is wrong with it, naming
// the limit.
std::string TitleProblem(const std::string& utf8Title);

// The names the installer derives from its own file name (no directory).
struct InstallerNames {
    std::string baseName;      // cut at the last '.', letter case kept: FishTank
    std::string saverFileName; // cut at the first '.', ".SCR", capitals: FISHTANK.SCR
};
InstallerNames NamesOf(const std::string& installerFileName);

// Where entry `index` installs, as components below the Windows directory,
// named by the installer's own code (text/text.h): {SaverFileName}, then the
// data parent folders, BaseName and BaseName.DAT, then the same folders and
// FILE + the file number's digits (at least four) + the extension field up
// to its first NUL.
std::vector<std::string> InstalledPath(const InstallerNames& names, uint32_t index,
                                       uint16_t firstFileNumber, const char* extension);
// Joined with backslashes, as Windows writes it.
std::string WindowsPath(const std::vector<std::string>& components);
// An installed place as list shows it: the saver by its name, a data file
// as "...\" and its path below the Windows directory.
std::string ShownPlace(const std::vector<std::string>& components);
// As create and the page's preview say it: the saver's name "in the Windows
// directory", a data file as ShownPlace gives it.
std::string PlaceInWords(const std::vector<std::string>& components);

// The extension field of entry 2 on as a name would carry it: "" when fine,
// else what makes it unfit (a path separator, "..", ':', a control
// character, a NUL before other characters, or another character Windows
// does not allow in a file name).
std::string ExtensionProblem(const char* extension);

// What stops a file name from naming an installer that installs: an empty,
// "." or ".." name for the data folder, or a name Windows reserves for a
// device. "" when none.
std::string InstallerNameError(const std::string& fileName);
// What makes a file name a poor installer name, though it installs: several
// '.', or characters Windows does not allow in a file name.
std::vector<std::string> InstallerNameWarnings(const std::string& fileName);

// printf's text of `format` appended to `out`.
void AppendFormat(std::string& out, const char* format, ...);

// The decimal text of `value` with ',' between groups of three digits, as
// the installer writes it (for the 32-bit values it shows).
std::string Thousands(uint64_t value);

} // namespace saverpack
