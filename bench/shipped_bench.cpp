// The decoder as the installer ships it, timed under Wine: built for i686
// with the installer's own flags for the decoder's files, beside the plain
// decoder built the same way. Google Benchmark does not build for mingw, so
// this is a small harness of its own: every round times each decoder once,
// in turn, and the figure kept is the median round.
//
//   shipped_bench DIR JSON NAME...
//
// DIR holds NAME.lzh (a stream) and NAME.orig (what it decodes to), as
// `codec_bench --streams_out=DIR` writes them. Rates are bytes of original
// per second; JSON receives the same figures.

#include "bench/plain_decoder.h"
#include "decoder/decode.h"
#include "decoder/memory.h"
#include "decoder/streams.h"
#include "platform/win.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int Rounds = 9;

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(f);
    return true;
}

double Seconds() {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Input {
    std::string name;
    std::string streamPath;
    std::vector<uint8_t> stored;
    std::vector<uint8_t> original;
};

// One way of decoding an input, timed; it leaves the decoded bytes in `out`
// or, with `toFile`, in TargetFile. It returns whether it ran to its end.
struct Contender {
    const char* name;
    bool (*decode)(const Input&, std::vector<uint8_t>& out);
    bool toFile;
};

bool Shipped(const Input& input, std::vector<uint8_t>& out) {
    out.resize(input.original.size());
    MemorySource in{input.stored.data()};
    MemorySink sink{out.data(), 0};
    DecodeStream(in, sink, static_cast<int32_t>(out.size()),
                 static_cast<uint32_t>(input.stored.size()));
    return true;
}

bool Plain(const Input& input, std::vector<uint8_t>& out) {
    static plain::Decoder decoder;
    decoder.DecodeInto(input.stored.data(), static_cast<uint32_t>(input.stored.size()),
                       static_cast<int32_t>(input.original.size()), out);
    out.resize(input.original.size());
    return true;
}

// The installer's whole path: its file streams, from a file to a file.
const char* const TargetFile = "shipped_bench.out";
bool Installer(const Input& input, std::vector<uint8_t>&) {
    return DecompressFile(input.streamPath.c_str(), 0, static_cast<uint32_t>(input.original.size()),
                          static_cast<uint32_t>(input.stored.size()), TargetFile) == 1;
}

const Contender Contenders[] = {
    {"Decode", Shipped, false},
    {"DecodePlain", Plain, false},
    {"DecompressFile", Installer, true},
};
const int ContenderCount = sizeof Contenders / sizeof Contenders[0];

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: shipped_bench DIR JSON NAME...\n");
        return 2;
    }
    std::string dir = argv[1];
    std::vector<Input> inputs;
    for (int i = 3; i < argc; ++i) {
        Input input{argv[i], dir + "/" + argv[i] + ".lzh", {}, {}};
        if (!ReadWhole(input.streamPath, input.stored) ||
            !ReadWhole(dir + "/" + input.name + ".orig", input.original)) {
            std::fprintf(stderr, "shipped_bench: cannot read %s/%s.lzh or .orig\n", dir.c_str(),
                         input.name.c_str());
            return 1;
        }
        inputs.push_back(input);
    }
    FILE* json = std::fopen(argv[2], "w");
    if (json == nullptr) {
        std::fprintf(stderr, "shipped_bench: cannot write %s\n", argv[2]);
        return 1;
    }
    std::fprintf(json, "{\n  \"rounds\": %d,\n  \"benchmarks\": [", Rounds);
    std::printf("%-34s %12s %14s\n", "Benchmark (median of rounds)", "Time", "Rate");
    const char* separator = "\n";
    std::vector<uint8_t> out;
    for (const Input& input : inputs) {
        std::vector<double> times[ContenderCount];
        for (int round = 0; round < Rounds; ++round) {
            for (int c = 0; c < ContenderCount; ++c) {
                const Contender& contender = Contenders[c];
                double start = Seconds();
                bool ended = contender.decode(input, out);
                times[c].push_back(Seconds() - start);
                if (!ended || (contender.toFile && !ReadWhole(TargetFile, out)) ||
                    out != input.original) {
                    std::fprintf(stderr, "shipped_bench: %s of %s differs from the original\n",
                                 contender.name, input.name.c_str());
                    return 1;
                }
            }
        }
        for (int c = 0; c < ContenderCount; ++c) {
            double median = Median(times[c]);
            double rate = static_cast<double>(input.original.size()) / median;
            std::string name = std::string(Contenders[c].name) + "/" + input.name;
            std::printf("%-34s %9.2f ms %11.2f MB/s\n", name.c_str(), median * 1e3, rate / 1e6);
            std::fprintf(json,
                         "%s    {\"name\": \"%s\", \"median_seconds\": %.6f, "
                         "\"bytes_per_second\": %.0f}",
                         separator, name.c_str(), median, rate);
            separator = ",\n";
        }
    }
    std::fprintf(json, "\n  ]\n}\n");
    std::fclose(json);
    std::remove(TargetFile);
    return 0;
}
