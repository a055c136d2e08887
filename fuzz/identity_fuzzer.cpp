// Arbitrary bytes through the readers of an installer's identity, each
// input read every way a stranger's file reaches them:
// - as an installer that list and verify open: its resource tree, the icon
//   group and the version block read back from it;
// - as a bare resource section, so that small inputs reach the tree walk
//   without a PE header around them;
// - as the version block itself;
// - as the .ico file given to create's --icon, and when that parses, as the
//   icon written into a stub and read back;
// - as the stub given to create's --stub, written anew with version
//   information and read back.
// The readers may refuse (PackageError, and Failure for an .ico) but must
// not crash, read outside the bytes, throw anything else, or read back other
// than what was written. Text they hand to list must be valid UTF-8.
#include "tools/saverpack/names.h"
#include "tools/saverpack/resources.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

bool Before(const Resource& a, const Resource& b) {
    if (!(a.type == b.type))
        return a.type < b.type;
    if (!(a.name == b.name))
        return a.name < b.name;
    return a.language < b.language;
}
bool Same(const Resource& a, const Resource& b) {
    return a.type == b.type && a.name == b.name && a.language == b.language &&
           a.codePage == b.codePage && a.data == b.data;
}

// Written anew around a version resource, a stub keeps every other resource
// byte for byte, and its version reads back as given.
void RewriteStub(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stub(data, data + size);
    std::vector<Resource> before;
    std::vector<uint8_t> out;
    VersionInfo info;
    info.version[0] = 1;
    info.versionText = "1.0";
    info.description = "Fuzz Screen Saver Installation";
    info.productName = "Fuzz Screen Saver";
    info.originalFilename = "Fuzz.exe";
    try {
        before = ReadBack(stub);
        out = WithIdentity(stub, Identity{{}, info});
    } catch (const pkg::PackageError&) {
        return;
    }
    before.erase(
        std::remove_if(before.begin(), before.end(),
                       [](const Resource& r) { return !r.type.named && r.type.id == RtVersion; }),
        before.end());
    std::vector<Resource> after = ReadBack(out);
    IdentityView view = ReadIdentity(after);
    Require(view.hasVersion && view.fileVersion == "1.0.0.0" && view.strings.size() == 5);
    after.erase(
        std::remove_if(after.begin(), after.end(),
                       [](const Resource& r) { return !r.type.named && r.type.id == RtVersion; }),
        after.end());
    std::stable_sort(before.begin(), before.end(), Before);
    std::stable_sort(after.begin(), after.end(), Before);
    Require(std::equal(before.begin(), before.end(), after.begin(), after.end(), Same));
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
