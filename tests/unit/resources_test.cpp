// The resources of the built installer, read back from its file.
#include "package/format.h"
#include "tests/unit/test_support.h"

#include <string>

namespace {

struct Resource {
    std::string type; // a name, or "#" and the id
    uint32_t name, language;
    std::vector<uint8_t> data;
};

std::vector<Resource> ReadResources(const std::vector<uint8_t>& image) {
    uint32_t pe = ReadLe32(&image[60]);
    uint16_t sections = ReadLe16(&image[pe + 6]);
    uint32_t base = 0, rva = 0;
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* s = &image[pe + 248 + 40 * i];
        if (std::string(reinterpret_cast<const char*>(s), 5) == ".rsrc") {
            rva = ReadLe32(s + 12);
            base = ReadLe32(s + 20);
        }
    }
    auto entries = [&](uint32_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        uint32_t count = ReadLe16(&image[base + dir + 12]) + ReadLe16(&image[base + dir + 14]);
        for (uint32_t k = 0; k < count; ++k)
            out.push_back({ReadLe32(&image[base + dir + 16 + 8 * k]),
                           ReadLe32(&image[base + dir + 20 + 8 * k]) & 0x7fffffffu});
        return out;
    };
    std::vector<Resource> all;
    for (auto type : entries(0)) {
        std::string typeName = "#" + std::to_string(type.first);
        if (type.first & 0x80000000u) {
            uint32_t at = base + (type.first & 0x7fffffffu);
            typeName.clear();
            for (uint16_t i = 0; i < ReadLe16(&image[at]); ++i)
                typeName += char(image[at + 2 + 2 * i]);
        }
        for (auto name : entries(type.second))
            for (auto language : entries(name.second)) {
                uint32_t dataEntry = base + language.second;
                uint32_t at = ReadLe32(&image[dataEntry]) - rva + base;
                uint32_t size = ReadLe32(&image[dataEntry + 4]);
                all.push_back(
                    {typeName, name.first, language.first,
                     std::vector<uint8_t>(image.begin() + at, image.begin() + at + size)});
            }
    }
    return all;
}

const Resource* Find(const std::vector<Resource>& all, const std::string& type, uint32_t name) {
    for (const Resource& r : all)
        if (r.type == type && r.name == name)
            return &r;
    return nullptr;
}

TEST(Resources, LastresComesFirstWithFourBytes) {
    std::vector<Resource> all = ReadResources(Stub());
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].type, "LASTRES");
    EXPECT_EQ(all[0].name, 1000u);
    EXPECT_EQ(all[0].language, 1033u);
    EXPECT_EQ(all[0].data.size(), 4u);
}

TEST(Resources, IconGroupHoldsOne32x32ImageIn16Colours) {
    std::vector<Resource> all = ReadResources(Stub());
    const Resource* group = Find(all, "#14", 101);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->data.size(), 6u + 14u);
    EXPECT_EQ(ReadLe16(&group->data[4]), 1); // one image
    const uint8_t* entry = &group->data[6];
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(entry[2], 16);
    EXPECT_EQ(ReadLe16(entry + 12), 1); // icon resource 1
    EXPECT_NE(Find(all, "#3", 1), nullptr);
}

TEST(Resources, ManifestAsksForAdministratorRights) {
    std::vector<Resource> all = ReadResources(Stub());
    const Resource* manifest = Find(all, "#24", 1);
    ASSERT_NE(manifest, nullptr);
    std::string text(manifest->data.begin(), manifest->data.end());
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(text.find("supportedOS"), std::string::npos);
}

TEST(Resources, InstallationDialogTemplate) {
    std::vector<Resource> all = ReadResources(Stub());
    const Resource* dialog = Find(all, "#5", 103);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->language, 1033u);
    const std::vector<uint8_t>& d = dialog->data;
    size_t at = 0;
    auto u16 = [&] {
        uint16_t v = ReadLe16(&d[at]);
        at += 2;
        return v;
    };
    auto u32 = [&] {
        uint32_t v = ReadLe32(&d[at]);
        at += 4;
        return v;
    };
    // A string, or "#" and an ordinal.
    auto text = [&] {
        if (ReadLe16(&d[at]) == 0xffff) {
            at += 2;
            return "#" + std::to_string(u16());
        }
        std::string s;
        while (uint16_t c = u16())
            s += char(c);
        return s;
    };
    EXPECT_EQ(u32(), uint32_t(0x80000000 | 0x10000000 | 0x80 | 0x40)); // popup visible modal font
    EXPECT_EQ(u32(), 0u);
    uint16_t count = u16();
    EXPECT_EQ(count, 5);
    EXPECT_EQ(u16(), 0);
    EXPECT_EQ(u16(), 0);
    EXPECT_EQ(u16(), 187);
    EXPECT_EQ(u16(), 75);
    EXPECT_EQ(text(), ""); // menu
    EXPECT_EQ(text(), ""); // class
    EXPECT_EQ(text(), ""); // title
    EXPECT_EQ(u16(), 8);
    EXPECT_EQ(text(), "MS Sans Serif");

    const uint32_t child = 0x40000000, visible = 0x10000000, tabstop = 0x10000, group = 0x20000;
    const struct {
        uint16_t id;
        const char* text;
        int16_t x, y, cx, cy;
        uint32_t style;
        const char* classNames[2]; // by name or by ordinal
    } controls[] = {
        {1, "OK", 131, 6, 50, 14, child | tabstop | 1, {"BUTTON", "#128"}},
        {2, "Cancel", 131, 23, 50, 14, child | tabstop, {"BUTTON", "#128"}},
        {0xffff, "Installing", 50, 15, 86, 8, child | visible | group | 1, {"STATIC", "#130"}},
        {0xffff, "Please Wait...", 48, 50, 90, 8, child | visible | group | 1, {"STATIC", "#130"}},
        {1001, "", 13, 31, 159, 8, child | visible | group | 1 | 0x80, {"STATIC", "#130"}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.text);
        at = (at + 3) & ~size_t(3);
        EXPECT_EQ(u32(), c.style);
        EXPECT_EQ(u32(), 0u);
        EXPECT_EQ(int16_t(u16()), c.x);
        EXPECT_EQ(int16_t(u16()), c.y);
        EXPECT_EQ(int16_t(u16()), c.cx);
        EXPECT_EQ(int16_t(u16()), c.cy);
        EXPECT_EQ(u16(), c.id);
        std::string className = text();
        EXPECT_TRUE(className == c.classNames[0] || className == c.classNames[1]) << className;
        EXPECT_EQ(text(), c.text);
        at += 2 + u16() - 2; // creation data
    }
}

} // namespace
