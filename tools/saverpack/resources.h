// The installer's identity: the icon and version information Windows shows
// for it. With either asked for, the installer's .rsrc is laid out anew from
// the stub's resources and the new ones, so that the locator's walk still
// ends at LASTRES, the first type, whose data stays the last of the section.
#pragma once

#include "package/byte_source.h"
#include "package/writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace saverpack {

enum : uint16_t {
    RtIcon = 3,
    RtGroupIcon = 14,
    RtVersion = 16,
    InstallerIconGroup = 101,
    VersionResourceId = 1,
    EnglishUs = 1033,
};

// A type or name: an id, or a name (UTF-16) when `named`.
struct ResourceKey {
    bool named = false;
    uint16_t id = 0;
    std::u16string name;
};
bool operator<(const ResourceKey& a, const ResourceKey& b);
bool operator==(const ResourceKey& a, const ResourceKey& b);

struct Resource {
    ResourceKey type, name;
    uint16_t language = 0;
    uint32_t codePage = 0; // the data entry's field, kept as it was
    std::vector<uint8_t> data;
    uint64_t at = 0; // the data's file offset, when read from a file
};

// Every resource of an image whose layout is checked, in tree order. The
// image may be hostile: the walk is bounded, and throws PackageError on a
// tree that is not three levels of directories over data entries.
std::vector<Resource> ReadResources(const pkg::ByteSource& image, const pkg::StubLayout& layout);

// One image of an .ico file: its directory entry's first 12 bytes (width,
// height, colours, reserved, planes, bit count, byte count) and its bytes.
struct IconImage {
    uint8_t entry[12];
    std::vector<uint8_t> bytes;
    unsigned Width() const { return entry[0] ? entry[0] : 256; }
    unsigned Height() const { return entry[1] ? entry[1] : 256; }
    unsigned BitCount() const { return unsigned(entry[6] | entry[7] << 8); }
    bool Png() const;
};

// The most images an icon may hold; more is no icon an author meant.
const size_t MostIconImages = 64;
// The most bytes an icon file may hold: MostIconImages images of 256 by 256
// pixels at 8 bytes each, twice what a 32-bit bitmap and its mask take.
const uint64_t MostIconFileSize = MostIconImages * 256 * 256 * 8;

// The images of an .ico file, or the one image of a square PNG file of up
// to 256 pixels; throws Failure naming `shownName` for a file that is no
// icon (naming the kind of picture it is, when it is one), a directory or
// image past its end, an image of no bytes or more than MostIconImages.
std::vector<IconImage> ParseIconFile(const std::vector<uint8_t>& file,
                                     const std::string& shownName);

// The version resource's content; each text is UTF-8, checked by
// VersionTextProblem.
struct VersionInfo {
    uint16_t version[4] = {};
    std::string versionText; // "" when no version was given
    std::string company, description, copyright, productName, originalFilename;
};

// Parses A.B[.C[.D]] into `parts`; "" when it is one, else why not.
std::string VersionProblem(const std::string& text, uint16_t parts[4]);
// "" for a text Windows can show in the Details page, else why not.
std::string VersionTextProblem(const std::string& utf8);

// The VS_VERSIONINFO bytes: language 0x0409, code page 1200.
std::vector<uint8_t> VersionResource(const VersionInfo& info);

// What the installer's identity is made of, as it was given.
struct Identity {
    std::vector<IconImage> icon; // none: the stub's own
    std::optional<VersionInfo> version;
};

// The stub with its .rsrc laid out anew: group 101 holding `identity`'s
// icon in place of its own, a version resource, every other resource's
// bytes as they were. Throws PackageError when the result could not take a
// package.
std::vector<uint8_t> WithIdentity(const std::vector<uint8_t>& stub, const Identity& identity);

// What list shows of an installer's identity, read back from its resources.
struct IconEntryView {
    unsigned width, height, bitCount;
    uint32_t bytes;
    uint16_t id;
    bool png;
    bool present; // the RT_ICON it names is there
};
struct IdentityView {
    std::vector<IconEntryView> icon; // group 101's entries
    bool hasVersion = false;
    std::string fileVersion, productVersion; // from VS_FIXEDFILEINFO
    // The first string table's strings, in their order.
    std::vector<std::pair<std::string, std::string>> strings;
};
// Throws PackageError when the tree or a resource cannot be read.
IdentityView ReadIdentity(const std::vector<Resource>& resources);

// An .ico file of one image, `image` being the bytes of the RT_ICON that
// `icon` names: what a browser or a viewer can draw, PNG or bitmap.
std::vector<uint8_t> IconFileOf(const std::vector<uint8_t>& image, const IconEntryView& icon);

} // namespace saverpack
