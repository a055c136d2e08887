// Shared set-up of the native installer tests: a fresh stand-in of Windows
// over a temporary folder per test, installers with packages written into
// the real built stub, and small synthetic PE images for odd layouts.
#pragma once

#include "install/state.h"
#include "package/writer.h"
#include "tests/windows/host_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// The built installer with no package (build/win32/installer.exe).
const std::vector<uint8_t>& Stub();

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);
std::vector<uint8_t> TextBytes(const std::string& text);

pkg::EntryToWrite Stored(std::vector<uint8_t> bytes, std::string extension = "");

class InstallerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `package` into a copy of the stub at C:\Downloads\<name> and
    // makes it the running installer.
    void PlaceInstaller(const pkg::PackageToWrite& package,
                        const std::string& name = "MySaver.exe");
    // Places raw bytes as the running installer.
    void PlaceImage(const std::vector<uint8_t>& image, const std::string& name = "MySaver.exe");

    // Runs the installer's WinMain to its end and returns its exit code.
    int RunInstaller();

    std::vector<uint8_t> FileAt(const std::string& windowsPath);

    host::World* world = nullptr;
    std::string root;
};

// A minimal PE32 image with a resource tree, for layouts the build never
// makes.
struct SyntheticImage {
    uint16_t sizeOfOptionalHeader = 224;
    bool withRsrc = true;
    bool lastresFirst = true; // else an id type (RT_RCDATA) is the only type
    uint32_t dataOffset = 0;  // file offset of the first resource data, once built
    std::vector<uint8_t> Build();
};
