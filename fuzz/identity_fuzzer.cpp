// Arbitrary bytes through the readers of an installer's identity, each
// input read every way a stranger's file reaches them:
// - as an installer that list and verify open: its resource tree, the icon
//   group and the version block read back from it;
// - as a bare resource section, so that small inputs reach the tree walk
//   without a PE header around them;
// - as the version block itself;
// - as the .ico file given to create's --icon, and when that parses, as the
//   icon written into a stub and read back;
// - as the stub given to create's --stub, written anew with an icon and
//   version information and read back.
// The readers may refuse (PackageError, and Failure for an .ico) but must
// not crash, read outside the bytes, throw anything else, or read back other
// than what was written. Text they hand to list must be valid UTF-8.
#include "tools/saverpack/names.h"
#include "tools/saverpack/resources.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>

namespace fuzzstub {
extern const unsigned char Stub[];
extern const size_t StubSize;
} // namespace fuzzstub

namespace {

using namespace saverpack;

void Require(bool holds) {
    if (!holds)
        abort();
}

bool Utf8(const std::string& text) {
    std::u16string utf16;
    size_t characters;
    return Utf8ToUtf16(text, utf16, characters);
}

void CheckView(const IdentityView& view) {
    for (const auto& [key, value] : view.strings)
        Require(Utf8(key) && Utf8(value));
}

// Every resource's bytes are the file's own, at the place it was read from.
void ReadTree(const pkg::ByteSource& image, const pkg::StubLayout& layout, const uint8_t* data,
              size_t size) {
    std::vector<Resource> resources;
    try {
        resources = ReadResources(image, layout);
    } catch (const pkg::PackageError&) {
        return;
    }
    for (const Resource& r : resources)
        Require(r.at <= size && r.data.size() <= size - r.at &&
                std::equal(r.data.begin(), r.data.end(), data + r.at));
    try {
        CheckView(ReadIdentity(resources));
    } catch (const pkg::PackageError&) {
    }
}

void ReadInstaller(const uint8_t* data, size_t size) {
    pkg::MemoryBytes file(data, size);
    pkg::StubLayout layout;
    try {
        layout = pkg::CheckImageLayout(file);
    } catch (const pkg::PackageError&) {
        return;
    }
    ReadTree(file, layout, data, size);
}

// The section at file offset 0, mapped at an address of a typical image.
void ReadBareSection(const uint8_t* data, size_t size) {
    pkg::StubLayout layout{};
    layout.rsrcVirtualAddress = 0x5000;
    layout.rsrcEnd = size;
    ReadTree(pkg::MemoryBytes(data, size), layout, data, size);
}

void ReadVersionBlock(const uint8_t* data, size_t size) {
    Resource version{{false, RtVersion, {}},
                     {false, VersionResourceId, {}},
                     EnglishUs,
                     0,
                     std::vector<uint8_t>(data, data + size),
                     0};
    try {
        CheckView(ReadIdentity({version}));
    } catch (const pkg::PackageError&) {
    }
}

std::vector<Resource> ReadBack(const std::vector<uint8_t>& installer) {
    pkg::StubLayout layout = pkg::CheckStubLayout(installer);
    return ReadResources(pkg::MemoryBytes(installer), layout);
}

void ReadIcon(const uint8_t* data, size_t size) {
    Identity identity;
    try {
        identity.icon = ParseIconFile(std::vector<uint8_t>(data, data + size), "fuzz.ico");
    } catch (const std::runtime_error&) { // saverpack's Failure, naming the file
        return;
    }
    Require(!identity.icon.empty() && identity.icon.size() <= MostIconImages);
    static const std::vector<uint8_t> stub(fuzzstub::Stub, fuzzstub::Stub + fuzzstub::StubSize);
    std::vector<Resource> resources = ReadBack(WithIdentity(stub, identity));
    IdentityView view = ReadIdentity(resources);
    Require(view.icon.size() == identity.icon.size());
    for (size_t i = 0; i < view.icon.size(); ++i) {
        const IconEntryView& got = view.icon[i];
        const IconImage& given = identity.icon[i];
        Require(got.present && got.width == given.Width() && got.height == given.Height() &&
                got.bitCount == given.BitCount() && got.bytes == given.bytes.size() &&
                got.png == given.Png());
        auto image = std::find_if(resources.begin(), resources.end(), [&](const Resource& r) {
            return !r.type.named && r.type.id == RtIcon && !r.name.named && r.name.id == got.id;
        });
        Require(image != resources.end() && image->data == given.bytes);
    }
}

bool Same(const Resource& a, const Resource& b) {
    return a.type == b.type && a.name == b.name && a.language == b.language &&
           a.codePage == b.codePage && a.data == b.data;
}

bool IsIcon(const Resource& r, uint16_t type) {
    return !r.type.named && r.type.id == type && !r.name.named;
}
bool Has(const std::vector<Resource>& resources, const Resource& wanted) {
    return std::any_of(resources.begin(), resources.end(),
                       [&](const Resource& r) { return Same(r, wanted); });
}

// The RT_ICON ids of every group but the installer's, and of the
// installer's group, as a group's entries name them.
void NamedIcons(const std::vector<Resource>& resources, std::set<uint16_t>& others,
                std::set<uint16_t>& installers) {
    for (const Resource& g : resources) {
        if (g.type.named || g.type.id != RtGroupIcon || g.data.size() < 6)
            continue;
        bool installer = IsIcon(g, RtGroupIcon) && g.name.id == InstallerIconGroup;
        size_t count = ReadLe16(&g.data[4]);
        for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= g.data.size(); ++i)
            (installer ? installers : others).insert(ReadLe16(&g.data[6 + 14 * i + 12]));
    }
}

// Written anew around a new icon and version, a stub keeps every resource
// but its icon group 101, the icons only that group names, and its version
// byte for byte; the new icon and version read back as given.
void RewriteStub(const uint8_t* data, size_t size) {
    static const IconImage png = {{1, 1, 0, 0, 1, 0, 32, 0, 12, 0, 0, 0},
                                  {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0}};
    VersionInfo info;
    info.version[0] = 1;
    info.versionText = "1.0";
    info.description = "Fuzz Screen Saver Installation";
    info.productName = "Fuzz Screen Saver";
    info.originalFilename = "Fuzz.exe";
    std::vector<uint8_t> stub(data, data + size);
    std::vector<Resource> before;
    std::vector<uint8_t> out;
    try {
        before = ReadBack(stub);
        out = WithIdentity(stub, Identity{{png}, info});
    } catch (const pkg::PackageError&) {
        return;
    }
    std::vector<Resource> after = ReadBack(out);
    IdentityView view = ReadIdentity(after);
    Require(view.hasVersion && view.fileVersion == "1.0.0.0" && view.strings.size() == 5);
    Require(view.icon.size() == 1 && view.icon[0].present && view.icon[0].png &&
            view.icon[0].bytes == png.bytes.size());
    std::set<uint16_t> others, installers;
    NamedIcons(before, others, installers);
    for (const Resource& r : before) {
        bool replaced =
            (!r.type.named && r.type.id == RtVersion) ||
            (IsIcon(r, RtGroupIcon) && r.name.id == InstallerIconGroup) ||
            (IsIcon(r, RtIcon) && installers.count(r.name.id) && !others.count(r.name.id));
        if (!replaced)
            Require(Has(after, r));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadInstaller(data, size);
    ReadBareSection(data, size);
    ReadVersionBlock(data, size);
    ReadIcon(data, size);
    RewriteStub(data, size);
    return 0;
}
