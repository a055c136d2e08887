#include "tools/saverpack/resources.h"

#include "package/format.h"
#include "package/pe_layout.h"
#include "tools/saverpack/failure.h"
#include "tools/saverpack/names.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace saverpack {

bool operator<(const ResourceKey& a, const ResourceKey& b) {
    // Named entries come first in a directory, each group in ascending
    // order: Windows searches both halves by bisection.
    if (a.named != b.named)
        return a.named;
    return a.named ? a.name < b.name : a.id < b.id;
}

bool operator==(const ResourceKey& a, const ResourceKey& b) {
    return a.named == b.named && (a.named ? a.name == b.name : a.id == b.id);
}

namespace {

enum : uint32_t {
    // An .ico file: ICONDIR (reserved, type 1, count), then a 16-byte entry
    // per image whose last field is the image's file offset. In a group
    // icon resource the entry is 14 bytes, the offset replaced by the
    // RT_ICON's id. Both entries start with the same 12 bytes.
    IconDirectorySize = 6,
    IconDirectoryType = 2,
    IconDirectoryCount = 4,
    IconFileEntrySize = 16,
    IconEntryBytes = 8,
    IconEntryPlanes = 4,
    IconEntryBitCount = 6,
    IconFileEntryOffset = 12,
    GroupIconEntrySize = 14,
    GroupIconEntryId = 12,
    DataAlignment = 8,
    MostFileAlignment = 0x10000,
    LongestResourceName = 256,
};

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint64_t AlignUp(uint64_t value, uint64_t to) {
    return (value + to - 1) / to * to;
}

struct TreeReader {
    const pkg::ByteSource& image;
    uint32_t base, virtualAddress;
    std::set<uint32_t> visited;
    uint64_t entriesLeft = image.Size() / ResourceEntrySize;

    uint32_t U32(uint64_t at) const {
        unsigned char b[4];
        if (image.ReadAt(at, b, 4) != 4)
            throw pkg::PackageError("resource tree cut short by the end of the file");
        return ReadLe32(b);
    }
    uint16_t U16(uint64_t at) const {
        unsigned char b[2];
        if (image.ReadAt(at, b, 2) != 2)
            throw pkg::PackageError("resource tree cut short by the end of the file");
        return ReadLe16(b);
    }
    ResourceKey Key(uint32_t field) const {
        ResourceKey k;
        if (!(field & SubdirectoryFlag)) {
            if (field > 0xFFFF)
                throw pkg::PackageError("resource id above 65535");
            k.id = uint16_t(field);
            return k;
        }
        k.named = true;
        uint64_t at = uint64_t(base) + (field & ~SubdirectoryFlag);
        uint16_t length = U16(at);
        if (length > LongestResourceName)
            throw pkg::PackageError("resource name longer than 256 characters");
        for (uint16_t i = 0; i < length; ++i)
            k.name += char16_t(U16(at + 2 + 2u * i));
        return k;
    }
    // The entries of the directory at `offset`: {name field, target}.
    std::vector<std::pair<uint32_t, uint32_t>> Entries(uint32_t offset) {
        if (!visited.insert(offset).second)
            throw pkg::PackageError("resource tree reaches one directory twice");
        uint64_t at = uint64_t(base) + offset;
        uint32_t count =
            uint32_t(U16(at + ResourceNamedEntryCount)) + U16(at + ResourceIdEntryCount);
        if (count > entriesLeft)
            throw pkg::PackageError("resource tree has more entries than the file can hold");
        entriesLeft -= count;
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t entry = at + ResourceDirectoryHeaderSize + uint64_t(ResourceEntrySize) * i;
            entries.push_back({U32(entry), U32(entry + ResourceEntryTarget)});
        }
        return entries;
    }
    uint32_t Below(uint32_t target) const {
        if (!(target & SubdirectoryFlag))
            throw pkg::PackageError("resource tree has data where a directory belongs");
        return target & ~SubdirectoryFlag;
    }
};

void Append(std::vector<uint8_t>& out, const void* bytes, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    out.insert(out.end(), p, p + count);
}
void Append16(std::vector<uint8_t>& out, uint16_t v) {
    uint8_t b[2];
    WriteLe16(b, v);
    Append(out, b, 2);
}
void Append32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    WriteLe32(b, v);
    Append(out, b, 4);
}
void AppendText(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t c : text)
        Append16(out, uint16_t(c));
}
void PadTo(std::vector<uint8_t>& out, size_t alignment) {
    out.resize(AlignUp(out.size(), alignment), 0);
}

std::u16string Utf16(const std::string& utf8) {
    std::u16string text;
    size_t characters;
    Utf8ToUtf16(utf8, text, characters); // checked before it came here
    return text;
}

bool IsLastres(const Resource& r) {
    return r.type.named && r.type.name == u"LASTRES";
}

// The section laid out as the resource compiler lays it: the directories
// breadth first, the data entries, the names, then the data, LASTRES's
// last. Returns the section's bytes, up to the end of its data.
std::vector<uint8_t> LayOut(const std::vector<Resource>& resources, uint32_t virtualAddress) {
    using Languages = std::map<uint16_t, const Resource*>;
    using Names = std::map<ResourceKey, Languages>;
    std::map<ResourceKey, Names> tree;
    for (const Resource& r : resources)
        if (!tree[r.type][r.name].emplace(r.language, &r).second)
            throw pkg::PackageError("two resources of one type, name and language");

    auto tableSize = [](size_t count) {
        return ResourceDirectoryHeaderSize + ResourceEntrySize * count;
    };
    size_t tables = tableSize(tree.size()), leaves = 0;
    for (const auto& [type, names] : tree) {
        tables += tableSize(names.size());
        for (const auto& [name, languages] : names) {
            tables += tableSize(languages.size());
            leaves += languages.size();
        }
    }
    size_t dataEntries = tables, strings = dataEntries + leaves * ResourceDataEntrySize;

    std::vector<uint8_t> out(strings, 0);
    std::map<std::u16string, uint32_t> nameAt;
    auto nameField = [&](const ResourceKey& k) -> uint32_t {
        if (!k.named)
            return k.id;
        auto [at, fresh] = nameAt.emplace(k.name, uint32_t(out.size()));
        if (fresh) {
            Append16(out, uint16_t(k.name.size()));
            AppendText(out, k.name);
        }
        return at->second | SubdirectoryFlag;
    };
    size_t nextTable = 0, nextDataEntry = dataEntries;
    auto table = [&](size_t count) {
        size_t at = nextTable;
        WriteLe16(&out[at + ResourceIdEntryCount], uint16_t(count)); // named ones set below
        nextTable += tableSize(count);
        return at;
    };
    auto setEntry = [&](size_t table, size_t index, const ResourceKey& k, uint32_t target) {
        uint32_t field = nameField(k); // first: a new name may move `out`
        uint8_t* entry = &out[table + ResourceDirectoryHeaderSize + ResourceEntrySize * index];
        WriteLe32(entry, field);
        WriteLe32(entry + ResourceEntryTarget, target);
        if (k.named) {
            uint8_t* named = &out[table + ResourceNamedEntryCount];
            uint8_t* ids = &out[table + ResourceIdEntryCount];
            WriteLe16(named, uint16_t(ReadLe16(named) + 1));
            WriteLe16(ids, uint16_t(ReadLe16(ids) - 1));
        }
    };

    // Breadth first: the root, every type's table, every name's table.
    size_t root = table(tree.size());
    std::vector<size_t> typeTables;
    for (const auto& entry : tree)
        typeTables.push_back(table(entry.second.size()));
    std::vector<std::pair<const Resource*, size_t>> data; // resource, its data entry
    size_t t = 0;
    for (const auto& [type, names] : tree) {
        setEntry(root, t, type, uint32_t(typeTables[t]) | SubdirectoryFlag);
        size_t n = 0;
        for (const auto& [name, languages] : names) {
            size_t nameTable = table(languages.size());
            setEntry(typeTables[t], n++, name, uint32_t(nameTable) | SubdirectoryFlag);
            size_t l = 0;
            for (const auto& [language, resource] : languages) {
                setEntry(nameTable, l++, ResourceKey{false, language, {}}, uint32_t(nextDataEntry));
                data.push_back({resource, nextDataEntry});
                nextDataEntry += ResourceDataEntrySize;
            }
        }
        ++t;
    }
    std::stable_partition(data.begin(), data.end(),
                          [](const auto& d) { return !IsLastres(*d.first); });
    for (const auto& [resource, entry] : data) {
        PadTo(out, DataAlignment);
        WriteLe32(&out[entry], virtualAddress + uint32_t(out.size()));
        WriteLe32(&out[entry + ResourceDataSize], uint32_t(resource->data.size()));
        WriteLe32(&out[entry + ResourceDataCodePage], resource->codePage);
        Append(out, resource->data.data(), resource->data.size());
    }
    PadTo(out, DataAlignment);
    return out;
}

// Group `group`'s images' ids, from its RT_GROUP_ICON data.
std::vector<uint16_t> IconIdsOf(const Resource& group) {
    std::vector<uint16_t> ids;
    if (group.data.size() < IconDirectorySize)
        return ids;
    size_t count = ReadLe16(&group.data[IconDirectoryCount]);
    for (size_t i = 0;
         i < count && IconDirectorySize + GroupIconEntrySize * (i + 1) <= group.data.size(); ++i)
        ids.push_back(
            ReadLe16(&group.data[IconDirectorySize + GroupIconEntrySize * i + GroupIconEntryId]));
    return ids;
}

void ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& icon) {
    auto isGroup = [](const Resource& r) {
        return r.type == ResourceKey{false, RtGroupIcon, {}} &&
               r.name == ResourceKey{false, InstallerIconGroup, {}};
    };
    uint16_t language = EnglishUs;
    std::set<uint16_t> dropped, kept;
    for (const Resource& r : resources) {
        if (r.type.named || r.type.id != RtGroupIcon)
            continue;
        for (uint16_t id : IconIdsOf(r))
            (isGroup(r) ? dropped : kept).insert(id);
        if (isGroup(r))
            language = r.language;
    }
    std::set<uint16_t> taken;
    std::vector<Resource> left;
    for (Resource& r : resources) {
        bool icon = r.type == ResourceKey{false, RtIcon, {}} && !r.name.named;
        if (isGroup(r) || (icon && dropped.count(r.name.id) && !kept.count(r.name.id)))
            continue;
        if (icon)
            taken.insert(r.name.id);
        left.push_back(std::move(r));
    }
    resources = std::move(left);

    Resource group;
    group.type = {false, RtGroupIcon, {}};
    group.name = {false, InstallerIconGroup, {}};
    group.language = language;
    Append16(group.data, 0);
    Append16(group.data, 1);
    Append16(group.data, uint16_t(icon.size()));
    uint16_t id = 1;
    for (const IconImage& image : icon) {
        while (taken.count(id))
            ++id;
        taken.insert(id);
        Append(group.data, image.entry, IconEntryBytes);
        Append32(group.data, uint32_t(image.bytes.size()));
        Append16(group.data, id);
        resources.push_back(
            Resource{{false, RtIcon, {}}, {false, id, {}}, language, 0, image.bytes, 0});
    }
    resources.push_back(std::move(group));
}

// A VS_VERSIONINFO node: its header, key, value and children, each of the
// latter three starting on a 32-bit boundary.
std::vector<uint8_t> Node(const std::u16string& key, uint16_t type,
                          const std::vector<uint8_t>& value, uint16_t valueLength,
                          const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> node(6, 0);
    AppendText(node, key);
    Append16(node, 0);
    PadTo(node, 4);
    Append(node, value.data(), value.size());
    for (const std::vector<uint8_t>& child : children) {
        PadTo(node, 4);
        Append(node, child.data(), child.size());
    }
    WriteLe16(&node[0], uint16_t(node.size()));
    WriteLe16(&node[2], valueLength);
    WriteLe16(&node[4], type);
    return node;
}

std::vector<uint8_t> StringNode(const std::u16string& key, const std::string& utf8) {
    std::vector<uint8_t> value;
    std::u16string text = Utf16(utf8);
    AppendText(value, text);
    Append16(value, 0);
    // Counted in characters, the terminating NUL among them.
    return Node(key, 1, value, uint16_t(text.size() + 1), {});
}

// A VS_VERSIONINFO tree as read back: the value's bounds and the children.
struct VersionNode {
    std::u16string key;
    size_t valueAt = 0, valueEnd = 0;
    std::vector<VersionNode> children;
};

bool ParseNode(const std::vector<uint8_t>& d, size_t at, size_t end, int depth, VersionNode& n) {
    if (depth > 4 || at + 6 > end)
        return false;
    size_t length = ReadLe16(&d[at]), valueLength = ReadLe16(&d[at + 2]);
    uint16_t type = ReadLe16(&d[at + 4]);
    if (length < 6 || at + length > end)
        return false;
    end = at + length;
    size_t p = at + 6;
    for (; p + 2 <= end && ReadLe16(&d[p]); p += 2)
        n.key += char16_t(ReadLe16(&d[p]));
    p = AlignUp(p + 2, 4);
    n.valueAt = std::min(p, end);
    n.valueEnd = std::min(end, n.valueAt + (type == 1 ? 2 * valueLength : valueLength));
    for (p = AlignUp(n.valueEnd, 4); p + 6 <= end;) {
        VersionNode child;
        if (!ParseNode(d, p, end, depth + 1, child))
            break;
        p = AlignUp(p + ReadLe16(&d[p]), 4);
        n.children.push_back(std::move(child));
    }
    return true;
}

std::string TextAt(const std::vector<uint8_t>& d, size_t from, size_t to) {
    std::u16string text;
    for (size_t p = from; p + 2 <= to && ReadLe16(&d[p]); p += 2)
        text += char16_t(ReadLe16(&d[p]));
    return Utf16ToUtf8(text);
}

std::string VersionText(uint32_t high, uint32_t low) {
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
           std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}

void ReadVersion(const std::vector<uint8_t>& d, IdentityView& view) {
    VersionNode root;
    if (!ParseNode(d, 0, d.size(), 0, root) || root.key != u"VS_VERSION_INFO")
        throw pkg::PackageError("its version resource is no VS_VERSIONINFO");
    view.hasVersion = true;
    if (root.valueEnd - root.valueAt >= 52 && ReadLe32(&d[root.valueAt]) == 0xFEEF04BD) {
        const uint8_t* fixed = &d[root.valueAt];
        view.fileVersion = VersionText(ReadLe32(fixed + 8), ReadLe32(fixed + 12));
        view.productVersion = VersionText(ReadLe32(fixed + 16), ReadLe32(fixed + 20));
    }
    for (const VersionNode& block : root.children)
        if (block.key == u"StringFileInfo" && !block.children.empty()) {
            for (const VersionNode& s : block.children[0].children)
                view.strings.push_back({Utf16ToUtf8(s.key), TextAt(d, s.valueAt, s.valueEnd)});
            return;
        }
}

} // namespace

std::vector<Resource> ReadResources(const pkg::ByteSource& image, const pkg::StubLayout& layout) {
    TreeReader r{image, layout.rsrcOffset, layout.rsrcVirtualAddress, {}};
    std::vector<Resource> resources;
    uint64_t dataLeft = image.Size();
    for (auto [typeField, typeTarget] : r.Entries(0)) {
        ResourceKey type = r.Key(typeField);
        for (auto [nameField, nameTarget] : r.Entries(r.Below(typeTarget))) {
            ResourceKey name = r.Key(nameField);
            for (auto [languageField, dataEntry] : r.Entries(r.Below(nameTarget))) {
                if ((dataEntry & SubdirectoryFlag) || languageField > 0xFFFF)
                    throw pkg::PackageError("resource tree deeper than three levels");
                uint64_t entry = uint64_t(r.base) + dataEntry;
                uint32_t rva = r.U32(entry), size = r.U32(entry + ResourceDataSize);
                if (rva < r.virtualAddress)
                    throw pkg::PackageError("resource data outside .rsrc");
                uint64_t at = uint64_t(rva - r.virtualAddress) + r.base;
                if (at + size > image.Size())
                    throw pkg::PackageError("resource data runs past the end of the file");
                // Resources that share bytes could claim the file many times over.
                if (size > dataLeft)
                    throw pkg::PackageError("resources claim more bytes than the file holds");
                dataLeft -= size;
                Resource res{type,
                             name,
                             uint16_t(languageField),
                             r.U32(entry + ResourceDataCodePage),
                             std::vector<uint8_t>(size),
                             at};
                image.ReadAt(at, res.data.data(), size);
                resources.push_back(std::move(res));
            }
        }
    }
    return resources;
}

bool IconImage::Png() const {
    return bytes.size() >= 8 && std::memcmp(bytes.data(), PngSignature, 8) == 0;
}

namespace {

uint32_t ReadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// What a picture file that is no icon is, by how its bytes start: authors
// pick the picture they have, and are better told what it is than that it
// is not what was asked for.
const struct {
    size_t at;
    const char* bytes;
    size_t size;
    const char* kind;
} PictureKinds[] = {
    {0, "\xFF\xD8\xFF", 3, "a JPEG image"}, {0, "GIF87a", 6, "a GIF image"},
    {0, "GIF89a", 6, "a GIF image"},        {0, "BM", 2, "a BMP image"},
    {8, "WEBP", 4, "a WebP image"},         {0, "II*\0", 4, "a TIFF image"},
    {0, "MM\0*", 4, "a TIFF image"},        {0, "<svg", 4, "an SVG drawing"},
    {0, "<?xml", 5, "an XML file"},         {4, "ftypavif", 8, "an AVIF image"},
    {0, "icns", 4, "a Mac icon (.icns)"},
};

std::string PictureKindOf(const std::vector<uint8_t>& file) {
    for (const auto& k : PictureKinds)
        if (file.size() >= k.at + k.size && std::memcmp(&file[k.at], k.bytes, k.size) == 0)
            return k.kind;
    return "";
}

// A PNG file as an icon of that one image: Windows draws a PNG image of up
// to 256 pixels square as it stands. Its size and depth come from its IHDR,
// which must come first.
IconImage IconFromPng(const std::vector<uint8_t>& file, const std::string& shownName) {
    if (file.size() < 33 || std::memcmp(&file[12], "IHDR", 4) != 0)
        throw Failure(shownName + ": is a PNG image cut short or without its header (IHDR)");
    uint32_t width = ReadBe32(&file[16]), height = ReadBe32(&file[20]);
    if (width != height || width == 0 || width > 256)
        throw Failure(shownName + ": is a PNG image of " + std::to_string(width) + "x" +
                      std::to_string(height) +
                      " pixels; an icon from a PNG must be square and at most 256 pixels");
    // Samples per pixel by PNG colour type: grey, -, RGB, palette, grey and
    // alpha, -, RGBA.
    static const uint8_t Channels[7] = {1, 0, 3, 1, 2, 0, 4};
    uint8_t depth = file[24], type = file[25];
    unsigned bitCount = type < 7 ? depth * Channels[type] : 0;
    IconImage image = {};
    image.entry[0] = image.entry[1] = uint8_t(width == 256 ? 0 : width);
    image.entry[4] = 1; // planes
    image.entry[6] = uint8_t(bitCount);
    image.entry[7] = uint8_t(bitCount >> 8);
    WriteLe32(&image.entry[8], uint32_t(file.size()));
    image.bytes = file;
    return image;
}

} // namespace

std::vector<IconImage> ParseIconFile(const std::vector<uint8_t>& file,
                                     const std::string& shownName) {
    auto fail = [&](const std::string& why) { throw Failure(shownName + ": " + why); };
    if (file.size() >= 8 && std::memcmp(file.data(), PngSignature, 8) == 0)
        return {IconFromPng(file, shownName)};
    std::string kind = PictureKindOf(file);
    if (!kind.empty())
        fail("is " + kind + ", not an icon");
    if (file.size() < IconDirectorySize || ReadLe16(&file[0]) != 0 ||
        ReadLe16(&file[IconDirectoryType]) != 1)
        fail("is no .ico file (it does not start with an icon directory)");
    size_t count = ReadLe16(&file[IconDirectoryCount]);
    if (count == 0)
        fail("holds no image");
    if (count > MostIconImages)
        fail("holds " + std::to_string(count) + " images; the limit is " +
             std::to_string(MostIconImages));
    if (IconDirectorySize + IconFileEntrySize * count > file.size())
        fail("its directory of " + std::to_string(count) +
             " images runs past the end of the file (" + Thousands(file.size()) + " bytes)");
    std::vector<IconImage> images;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &file[IconDirectorySize + IconFileEntrySize * i];
        uint32_t size = ReadLe32(entry + IconEntryBytes);
        uint32_t offset = ReadLe32(entry + IconFileEntryOffset);
        std::string name = "image " + std::to_string(i + 1);
        if (size == 0)
            fail(name + " has zero bytes");
        if (uint64_t(offset) + size > file.size())
            fail(name + " (bytes " + Thousands(offset) + " to " +
                 Thousands(uint64_t(offset) + size) + ") runs past the end of the file (" +
                 Thousands(file.size()) + " bytes)");
        IconImage image;
        std::memcpy(image.entry, entry, sizeof image.entry);
        image.bytes.assign(file.begin() + offset, file.begin() + offset + size);
        // Windows draws a PNG, or a DIB from its BITMAPINFOHEADER or the V4
        // or V5 one (one plane); anything else shows no icon.
        uint32_t header = size >= 4 ? ReadLe32(image.bytes.data()) : 0;
        bool dib = (header == 40 || header == 108 || header == 124) && header <= size &&
                   ReadLe16(&image.bytes[12]) == 1;
        if (!image.Png() && !dib)
            fail(name + " is neither a PNG nor a bitmap with its header");
        images.push_back(std::move(image));
    }
    return images;
}

std::vector<uint8_t> IconFileOf(const std::vector<uint8_t>& image, const IconEntryView& icon) {
    const uint32_t imageAt = IconDirectorySize + IconFileEntrySize;
    std::vector<uint8_t> file(imageAt + image.size(), 0);
    WriteLe16(&file[IconDirectoryType], 1);
    WriteLe16(&file[IconDirectoryCount], 1);
    uint8_t* entry = &file[IconDirectorySize];
    entry[0] = uint8_t(icon.width == 256 ? 0 : icon.width);
    entry[1] = uint8_t(icon.height == 256 ? 0 : icon.height);
    WriteLe16(entry + IconEntryPlanes, 1);
    WriteLe16(entry + IconEntryBitCount, uint16_t(icon.bitCount));
    WriteLe32(entry + IconEntryBytes, uint32_t(image.size()));
    WriteLe32(entry + IconFileEntryOffset, imageAt);
    std::copy(image.begin(), image.end(), file.begin() + imageAt);
    return file;
}

std::string VersionProblem(const std::string& text, uint16_t parts[4]) {
    const std::string form = "a version is A.B, A.B.C or A.B.C.D, each part a number from 0 "
                             "to 65535";
    size_t count = 0, at = 0;
    for (;;) {
        size_t dot = text.find('.', at);
        std::string part = text.substr(at, dot == std::string::npos ? dot : dot - at);
        if (count == 4 || part.empty() || part.size() > 5 ||
            part.find_first_not_of("0123456789") != std::string::npos)
            return form;
        unsigned long value = std::stoul(part);
        if (value > 65535)
            return "its part " + part + " is above 65535; " + form;
        parts[count++] = uint16_t(value);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    if (count < 2)
        return form;
    for (size_t i = count; i < 4; ++i)
        parts[i] = 0;
    return "";
}

std::string VersionTextProblem(const std::string& utf8) {
    std::u16string text;
    size_t characters;
    if (!Utf8ToUtf16(utf8, text, characters))
        return "it holds bytes that are not UTF-8";
    for (char16_t c : text)
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            return "it holds a control character";
    if (characters > 255)
        return "it is " + std::to_string(characters) + " characters long; the limit is 255";
    return "";
}

std::vector<uint8_t> VersionResource(const VersionInfo& info) {
    std::vector<uint8_t> fixed;
    const uint16_t* v = info.version;
    for (uint32_t word :
         {0xFEEF04BDu, 0x00010000u, uint32_t(v[0]) << 16 | v[1], uint32_t(v[2]) << 16 | v[3],
          uint32_t(v[0]) << 16 | v[1], uint32_t(v[2]) << 16 | v[3],
          0x3Fu,       // every flag this structure defines is meaningful
          0u,          // none set: a release
          0x00040004u, // VOS_NT_WINDOWS32
          1u,          // VFT_APP
          0u, 0u, 0u}) // no subtype, no date
        Append32(fixed, word);

    std::vector<std::vector<uint8_t>> strings;
    auto add = [&](const char16_t* key, const std::string& value) {
        strings.push_back(StringNode(key, value));
    };
    if (!info.company.empty())
        add(u"CompanyName", info.company);
    add(u"FileDescription", info.description);
    if (!info.versionText.empty())
        add(u"FileVersion", info.versionText);
    if (!info.copyright.empty())
        add(u"LegalCopyright", info.copyright);
    add(u"OriginalFilename", info.originalFilename);
    add(u"ProductName", info.productName);
    if (!info.versionText.empty())
        add(u"ProductVersion", info.versionText);

    std::vector<uint8_t> translation;
    Append16(translation, 0x0409);
    Append16(translation, 0x04B0);
    return Node(u"VS_VERSION_INFO", 0, fixed, uint16_t(fixed.size()),
                {Node(u"StringFileInfo", 1, {}, 0, {Node(u"040904B0", 1, {}, 0, strings)}),
                 Node(u"VarFileInfo", 1, {}, 0,
                      {Node(u"Translation", 0, translation, uint16_t(translation.size()), {})})});
}

std::vector<uint8_t> WithIdentity(const std::vector<uint8_t>& stub, const Identity& identity) {
    pkg::StubLayout layout = pkg::CheckStubLayout(stub);
    std::vector<Resource> resources = ReadResources(pkg::MemoryBytes(stub), layout);
    if (!identity.icon.empty())
        ReplaceIcon(resources, identity.icon);
    if (identity.version) {
        std::vector<Resource> left;
        for (Resource& r : resources)
            if (r.type.named || r.type.id != RtVersion)
                left.push_back(std::move(r));
        resources = std::move(left);
        resources.push_back(Resource{{false, RtVersion, {}},
                                     {false, VersionResourceId, {}},
                                     EnglishUs,
                                     0,
                                     VersionResource(*identity.version),
                                     0});
    }
    std::vector<uint8_t> section = LayOut(resources, layout.rsrcVirtualAddress);

    const uint64_t optional = uint64_t(layout.peOffset) + OptionalHeaderFromLfanew;
    uint16_t sectionCount =
        ReadLe16(&stub[layout.peOffset + FileHeaderFromLfanew + FileHeaderNumberOfSections]);
    uint8_t* header = nullptr; // .rsrc's, the last; CheckStubLayout saw it whole
    std::vector<uint8_t> out(stub.begin(), stub.begin() + layout.rsrcOffset);
    uint32_t fileAlignment = ReadLe32(&out[optional + OptionalFileAlignment]);
    uint32_t sectionAlignment = ReadLe32(&out[optional + OptionalSectionAlignment]);
    // The format allows a file alignment up to 64 KiB; a larger one would
    // pad the section to gigabytes.
    if (fileAlignment == 0 || fileAlignment > MostFileAlignment || sectionAlignment == 0 ||
        layout.rsrcOffset < layout.peOffset + SectionHeaderFromLfanew(sectionCount))
        throw pkg::PackageError("the stub's headers give no alignment, one above 64 KiB, or "
                                "lie past .rsrc");
    const uint64_t rsrcHeader = layout.peOffset + SectionHeaderFromLfanew(sectionCount - 1u);
    header = &out[rsrcHeader];
    uint32_t oldRawSize = ReadLe32(header + SectionSizeOfRawData);
    uint32_t rawSize = uint32_t(AlignUp(section.size(), fileAlignment));
    out.insert(out.end(), section.begin(), section.end());
    out.resize(layout.rsrcOffset + size_t(rawSize), 0);
    header = &out[rsrcHeader];

    WriteLe32(header + SectionVirtualSize, uint32_t(section.size()));
    WriteLe32(header + SectionSizeOfRawData, rawSize);
    uint8_t* o = &out[optional];
    WriteLe32(o + OptionalSizeOfInitializedData,
              ReadLe32(o + OptionalSizeOfInitializedData) - oldRawSize + rawSize);
    WriteLe32(
        o + OptionalSizeOfImage,
        uint32_t(AlignUp(uint64_t(layout.rsrcVirtualAddress) + section.size(), sectionAlignment)));
    WriteLe32(o + ResourceDirectoryInOptional, layout.rsrcVirtualAddress);
    WriteLe32(o + ResourceDirectoryInOptional + 4, uint32_t(section.size()));
    pkg::CheckStubLayout(out);
    return out;
}

IdentityView ReadIdentity(const std::vector<Resource>& resources) {
    IdentityView view;
    auto find = [&](uint16_t type, uint16_t name) -> const Resource* {
        for (const Resource& r : resources)
            if (!r.type.named && r.type.id == type && !r.name.named && r.name.id == name)
                return &r;
        return nullptr;
    };
    if (const Resource* group = find(RtGroupIcon, InstallerIconGroup)) {
        std::vector<uint16_t> ids = IconIdsOf(*group);
        for (size_t i = 0; i < ids.size(); ++i) {
            const uint8_t* e = &group->data[IconDirectorySize + GroupIconEntrySize * i];
            const Resource* image = find(RtIcon, ids[i]);
            IconImage probe;
            if (image)
                probe.bytes.assign(image->data.begin(),
                                   image->data.begin() +
                                       std::min<size_t>(sizeof PngSignature, image->data.size()));
            IconImage entry;
            std::memcpy(entry.entry, e, sizeof entry.entry);
            view.icon.push_back({entry.Width(), entry.Height(), entry.BitCount(),
                                 ReadLe32(e + IconEntryBytes), ids[i], probe.Png(),
                                 image != nullptr});
        }
    }
    for (const Resource& r : resources)
        if (!r.type.named && r.type.id == RtVersion) {
            ReadVersion(r.data, view);
            break;
        }
    return view;
}

} // namespace saverpack
