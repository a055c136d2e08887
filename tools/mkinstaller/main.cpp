// mkinstaller: the build's check of the installer layout, and a plain way to
// write a package of stored files into a copy of the installer (for the demo
// and by hand).
//
//   mkinstaller check STUB
//   mkinstaller write STUB OUT --title TITLE [--first N] [--compress] SAVER [DATA [FILE...]]
//
// With --compress each file is stored compressed at the best level when that
// makes it smaller, and as it is otherwise.
#include "decoder/codec.h"
#include "package/writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: mkinstaller check STUB\n"
                         "       mkinstaller write STUB OUT --title TITLE [--first N] "
                         "[--compress] SAVER [DATA [FILE...]]\n");
    return 2;
}

std::vector<uint8_t> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw pkg::PackageError("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The extension of a further file as the installer appends it: up to four
// characters from the last '.', in capitals.
std::string ExtensionOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return "";
    std::string ext = name.substr(dot, 4);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return ext;
}

// Replaces the entry's bytes by their compressed stream when that is
// smaller; the stream is decoded again first, so a fault in the encoder can
// never ship.
void Compress(pkg::EntryToWrite& entry, const std::string& path) {
    if (entry.stored.empty())
        return;
    std::vector<uint8_t> stream = EncodeStream(entry.stored, Level::Best);
    if (stream.size() >= entry.stored.size())
        return;
    if (DecodeMemory(stream, uint32_t(entry.stored.size())) != entry.stored)
        throw pkg::PackageError("compressing " + path + " gave a stream that does not restore it");
    entry.originalSize = uint32_t(entry.stored.size());
    entry.stored = std::move(stream);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    std::string command = argv[1];
    try {
        if (command == "check" && argc == 3) {
            pkg::StubLayout layout = pkg::CheckStubLayout(Slurp(argv[2]));
            std::printf("%s: package goes at offset %u\n", argv[2], layout.packageOffset);
            return 0;
        }
        if (command != "write" || argc < 4)
            return Usage();
        pkg::PackageToWrite package;
        std::vector<std::string> files;
        bool compress = false;
        for (int i = 4; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--title") && i + 1 < argc)
                package.title = argv[++i];
            else if (!std::strcmp(argv[i], "--first") && i + 1 < argc)
                package.firstFileNumber = uint16_t(std::stoul(argv[++i]));
            else if (!std::strcmp(argv[i], "--compress"))
                compress = true;
            else if (argv[i][0] == '-')
                return Usage();
            else
                files.push_back(argv[i]);
        }
        if (files.empty())
            return Usage();
        for (size_t i = 0; i < files.size(); ++i) {
            pkg::EntryToWrite entry;
            entry.stored = Slurp(files[i]);
            if (compress)
                Compress(entry, files[i]);
            if (i >= 2)
                entry.extension = ExtensionOf(files[i]);
            package.entries.push_back(std::move(entry));
        }
        std::vector<uint8_t> out = pkg::WriteInstaller(Slurp(argv[2]), package);
        for (size_t i = 0; i < files.size(); ++i) {
            const pkg::EntryToWrite& e = package.entries[i];
            size_t original = e.originalSize ? e.originalSize : e.stored.size();
            std::printf("%-40s %9zu bytes, %9zu in the package%s\n", files[i].c_str(), original,
                        e.stored.size(), e.originalSize ? " (compressed)" : "");
        }
        std::ofstream o(argv[3], std::ios::binary);
        o.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
        if (!o)
            throw pkg::PackageError(std::string("cannot write ") + argv[3]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkinstaller: %s\n", e.what());
        return 1;
    }
}
