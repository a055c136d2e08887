#include "tests/unit/test_support.h"

#include "app/flow.h"
#include "package/format.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

const std::vector<uint8_t>& Stub() {
    static std::vector<uint8_t> stub = [] {
        std::ifstream in(INSTALLER_STUB, std::ios::binary);
        if (!in) {
            ADD_FAILURE() << "the built installer is missing: " << INSTALLER_STUB
                          << " (run make, which builds it)";
            return std::vector<uint8_t>();
        }
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return stub;
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return bytes;
}

std::vector<uint8_t> TextBytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

pkg::EntryToWrite Stored(std::vector<uint8_t> bytes, std::string extension) {
    pkg::EntryToWrite e;
    e.stored = std::move(bytes);
    e.extension = std::move(extension);
    return e;
}

void InstallerTest::SetUp() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/installer-test-XXXXXX";
    std::vector<char> path(base.begin(), base.end());
    path.push_back(0);
    char* made = mkdtemp(path.data());
    ASSERT_NE(made, nullptr) << base;
    root = made;
    world = &host::Reset(root);
    ResetProgramState();
}

void InstallerTest::TearDown() {
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", root.c_str());
}

void InstallerTest::PlaceImage(const std::vector<uint8_t>& image, const std::string& name) {
    world->modulePath = "C:\\Downloads\\" + name;
    host::PutFile(world->modulePath, image);
    // The Windows directory exists on any system the installer runs on.
    std::string cmd = "mkdir -p '" + host::HostPath(world->windowsDirectory) + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

void InstallerTest::PlaceInstaller(const pkg::PackageToWrite& package, const std::string& name) {
    PlaceImage(pkg::WriteInstaller(Stub(), package), name);
}

int InstallerTest::RunInstaller() {
    return WinMain(host::Instance(), NULL, const_cast<char*>(""), SW_SHOWDEFAULT);
}

std::vector<uint8_t> InstallerTest::FileAt(const std::string& windowsPath) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(host::ReadFile(windowsPath, bytes)) << windowsPath << " is missing";
    return bytes;
}

std::vector<uint8_t> SyntheticImage::Build() {
    // DOS header, PE header at 0x40, section table, .rsrc raw data at 0x400.
    std::vector<uint8_t> image(0x600, 0);
    image[0] = 'M';
    image[1] = 'Z';
    WriteLe32(&image[60], 0x40);
    WriteLe32(&image[0x40], 0x4550);
    WriteLe16(&image[0x44], 0x14c);
    WriteLe16(&image[0x46], 2);
    WriteLe16(&image[0x54], sizeOfOptionalHeader);
    WriteLe16(&image[0x58], 0x10b);
    // The table lies where SizeOfOptionalHeader puts it, as a linker would.
    size_t table = 0x40 + 24 + sizeOfOptionalHeader;
    const char* names[2] = {".text", withRsrc ? ".rsrc" : ".data"};
    const uint32_t rva[2] = {0x1000, 0x2000};
    const uint32_t raw[2] = {0x200, 0x400};
    for (int i = 0; i < 2; ++i) {
        uint8_t* s = &image[table + 40 * i];
        std::snprintf(reinterpret_cast<char*>(s), 8, "%s", names[i]);
        WriteLe32(s + 8, 0x200);
        WriteLe32(s + 12, rva[i]);
        WriteLe32(s + 16, 0x200);
        WriteLe32(s + 20, raw[i]);
    }
    // Resource tree: root (one entry) at 0, names at 0x18, languages at
    // 0x30, data entry at 0x48, the type's name string at 0x58, data at 0x80.
    uint8_t* r = &image[0x400];
    if (lastresFirst) {
        WriteLe16(r + 12, 1);
        WriteLe32(r + 16, 0x80000000u | 0x58);
        const char* name = "LASTRES";
        WriteLe16(r + 0x58, 7);
        for (int i = 0; i < 7; ++i)
            WriteLe16(r + 0x5a + 2 * i, uint16_t(name[i]));
    } else {
        WriteLe16(r + 14, 1);
        WriteLe32(r + 16, 10); // RT_RCDATA
    }
    WriteLe32(r + 20, 0x80000000u | 0x18);
    WriteLe16(r + 0x18 + 14, 1);
    WriteLe32(r + 0x18 + 16, 1000);
    WriteLe32(r + 0x18 + 20, 0x80000000u | 0x30);
    WriteLe16(r + 0x30 + 14, 1);
    WriteLe32(r + 0x30 + 16, 1033);
    WriteLe32(r + 0x30 + 20, 0x48);
    WriteLe32(r + 0x48, 0x2000 + 0x80);
    WriteLe32(r + 0x48 + 4, 4);
    dataOffset = 0x400 + 0x80;
    return image;
}
