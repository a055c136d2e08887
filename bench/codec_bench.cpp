// Throughput and size of the codec on each corpus file and on the corpus as
// one stream. Rates are in bytes of original per second; `ratio` is the
// compressed size over the original, `vs_lazy` over the lazy level's. A
// table of the stored sizes at every level comes first. The plain decoder, written straight
// from the format, runs beside the real one on the same streams.

#include "bench/plain_decoder.h"
#include "decoder/codec.h"
#include "decoder/decode.h"
#include "decoder/memory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Input {
    std::string name;
    std::vector<uint8_t> bytes;
};

const char* const CorpusFiles[] = {"tank640.bmp", "sprites256.bmp", "chime.wav",
                                   "voice.wav",   "notes.txt",      "saver_sample.exe"};

std::vector<Input> LoadCorpus() {
    std::vector<Input> inputs;
    Input whole{"corpus", {}};
    for (const char* name : CorpusFiles) {
        std::ifstream in(std::string(TEST_DATA_DIR) + "/corpus/" + name, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "codec_bench: missing %s/corpus/%s\n", TEST_DATA_DIR, name);
            continue;
        }
        Input file{name, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
        whole.bytes.insert(whole.bytes.end(), file.bytes.begin(), file.bytes.end());
        inputs.push_back(std::move(file));
    }
    if (!whole.bytes.empty()) {
        inputs.push_back(std::move(whole));
    }
    return inputs;
}

// These code almost entirely as literals whatever the parse, so a change of
// the parse shows best in the sum over the other files.
const char* const LiteralBound[] = {"tank640.bmp", "voice.wav"};

constexpr size_t LevelCount = std::size(LevelNames);
constexpr size_t LazyColumn = static_cast<size_t>(Level::Lazy);
static_assert(LevelNames[LazyColumn].level == Level::Lazy, "LevelNames in the enum's order");

// Stored bytes of one input at every level, in the order of LevelNames.
struct SizeRow {
    std::string name;
    size_t original = 0;
    size_t stored[LevelCount] = {};
};

std::vector<SizeRow> MeasureSizes(const std::vector<Input>& inputs) {
    std::vector<SizeRow> rows;
    for (const Input& input : inputs) {
        SizeRow row{input.name, input.bytes.size()};
        for (size_t l = 0; l < LevelCount; ++l) {
            row.stored[l] = EncodeStream(input.bytes, LevelNames[l].level).size();
        }
        rows.push_back(row);
    }
    return rows;
}

void AddTo(SizeRow& sum, const SizeRow& row) {
    sum.original += row.original;
    for (size_t l = 0; l < LevelCount; ++l) {
        sum.stored[l] += row.stored[l];
    }
}

void PrintSizeRow(const SizeRow& row) {
    std::printf("%-22s %9zu", row.name.c_str(), row.original);
    for (size_t stored : row.stored) {
        std::printf(" %9zu %6.4f", stored,
                    static_cast<double>(stored) / static_cast<double>(row.stored[LazyColumn]));
    }
    std::printf("\n");
}

// Each file is its own stream, as packages hold them; the sums add those
// streams up, and "corpus" is the files as one stream.
void PrintSizes(const std::vector<SizeRow>& rows) {
    std::printf("Stored bytes per level, each beside its ratio to lazy\n%-22s %9s", "input",
                "original");
    for (const LevelName& level : LevelNames) {
        std::printf(" %16s", level.name);
    }
    std::printf("\n");
    SizeRow files{"sum of the files"};
    SizeRow parsed{"sum less literal-bound"};
    for (const SizeRow& row : rows) {
        PrintSizeRow(row);
        if (row.name == "corpus") {
            continue;
        }
        AddTo(files, row);
        if (std::find(std::begin(LiteralBound), std::end(LiteralBound), row.name) ==
            std::end(LiteralBound)) {
            AddTo(parsed, row);
        }
    }
    PrintSizeRow(files);
    PrintSizeRow(parsed);
    std::printf("literal-bound:");
    for (const char* name : LiteralBound) {
        std::printf(" %s", name);
    }
    std::printf("\n\n");
    std::fflush(stdout);
}

void Encode(benchmark::State& state, const Input* input, Level level, size_t lazyStored) {
    size_t stored = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out = EncodeStream(input->bytes, level);
        stored = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input->bytes.size()));
    state.counters["ratio"] =
        static_cast<double>(stored) / static_cast<double>(input->bytes.size());
    state.counters["stored"] = static_cast<double>(stored);
    state.counters["vs_lazy"] = static_cast<double>(stored) / static_cast<double>(lazyStored);
}

void Decode(benchmark::State& state, const Input* input, const std::vector<uint8_t>* stored) {
    std::vector<uint8_t> out(input->bytes.size());
    int32_t size = static_cast<int32_t>(input->bytes.size());
    for (auto _ : state) {
        MemorySource in{stored->data()};
        MemorySink sink{out.data(), 0};
        DecodeStream(in, sink, size, static_cast<uint32_t>(stored->size()));
        benchmark::DoNotOptimize(out.data());
    }
    if (out != input->bytes) {
        state.SkipWithError("decoded bytes differ from the original");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input->bytes.size()));
}

void DecodePlain(benchmark::State& state, const Input* input, const std::vector<uint8_t>* stored) {
    plain::Decoder decoder;
    std::vector<uint8_t> out;
    int32_t size = static_cast<int32_t>(input->bytes.size());
    for (auto _ : state) {
        decoder.DecodeInto(stored->data(), static_cast<uint32_t>(stored->size()), size, out);
        benchmark::DoNotOptimize(out.data());
    }
    out.resize(input->bytes.size());
    if (out != input->bytes) {
        state.SkipWithError("decoded bytes differ from the original");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input->bytes.size()));
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// `--streams_out=DIR` leaves each input's stream and original in DIR, as
// NAME.lzh and NAME.orig, for the benchmark of the decoder as shipped.
std::string TakeStreamsDir(int& argc, char** argv) {
    const std::string flag = "--streams_out=";
    std::string dir;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind(flag, 0) == 0) {
            dir = argv[i] + flag.size();
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    std::string streamsDir = TakeStreamsDir(argc, argv);
    static std::vector<Input> inputs = LoadCorpus();
    if (inputs.empty()) {
        std::fprintf(stderr, "codec_bench: no corpus under %s\n", TEST_DATA_DIR);
        return 1;
    }
    // Decoders run on what ships: streams of the best level.
    static std::vector<std::vector<uint8_t>> shipped;
    shipped.reserve(inputs.size());
    for (const Input& input : inputs) {
        shipped.push_back(EncodeStream(input.bytes, Level::Best));
        std::string base = streamsDir + "/" + input.name;
        if (!streamsDir.empty() &&
            !(WriteFile(base + ".lzh", shipped.back()) && WriteFile(base + ".orig", input.bytes))) {
            std::fprintf(stderr, "codec_bench: cannot write %s.lzh or .orig\n", base.c_str());
            return 1;
        }
    }
    std::vector<SizeRow> sizes = MeasureSizes(inputs);
    PrintSizes(sizes);
    for (const LevelName& level : LevelNames) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            benchmark::RegisterBenchmark(
                (std::string("Encode/") + level.name + "/" + inputs[i].name).c_str(), Encode,
                &inputs[i], level.level, sizes[i].stored[LazyColumn])
                ->Unit(benchmark::kMillisecond);
        }
    }
    // The decoders run last, so that the decoder as shipped, timed under
    // Wine next, meets the machine in the same state as the host's decoder
    // did: on a shared machine the speed of both drifts by a fifth over the
    // minute the encoders take.
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input* input = &inputs[i];
        benchmark::RegisterBenchmark(("Decode/" + input->name).c_str(), Decode, input, &shipped[i])
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DecodePlain/" + input->name).c_str(), DecodePlain, input,
                                     &shipped[i])
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
