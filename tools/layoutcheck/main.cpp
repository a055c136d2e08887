// layoutcheck: the build's check that a freshly built installer can take a
// package, run on build/win32/installer.exe after every link.
//
//   layoutcheck STUB
#include "package/writer.h"

#include <cstdio>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: layoutcheck STUB\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "layoutcheck: %s: cannot read it\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> image(std::istreambuf_iterator<char>(in), {});
    try {
        pkg::StubLayout layout = pkg::CheckStubLayout(image);
        std::printf("%s: package goes at offset %u\n", argv[1], layout.packageOffset);
        return 0;
    } catch (const pkg::PackageError& e) {
        std::fprintf(stderr, "layoutcheck: %s: %s\n", argv[1], e.what());
        return 1;
    }
}
