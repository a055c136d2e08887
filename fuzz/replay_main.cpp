// A fuzzer's main where libFuzzer cannot be had (the g++ host tree): feeds
// every file below the folders given, in name order, to
// LLVMFuzzerTestOneInput, as libFuzzer replays a corpus. A finding aborts,
// as under libFuzzer, so the CTest case fails on the input that brought it
// back. A missing folder is passed over (crash inputs are saved only once
// there are some); no input at all fails, so that seeds lost are noticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesBelow(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The input in a buffer of exactly its size, so that ASan sees a read past
// its end, as libFuzzer's own copy lets it.
bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return true;
}

} // namespace

// libFuzzer counts an allocation above its memory limit (2 GiB) as a
// finding; so does ASan here, so that such an input saved fails its replay.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=2048";
}

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            std::fprintf(stderr, "replay: no folder %s, nothing replayed from it\n", argv[i]);
            continue;
        }
        for (const fs::path& file : FilesBelow(argv[i])) {
            if (!Replay(file))
                return 1;
            ++replayed;
        }
    }
    std::printf("replay: %zu inputs, no finding\n", replayed);
    return replayed > 0 ? 0 : 1;
}
