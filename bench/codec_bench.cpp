// Throughput and size of the codec on each corpus file and on the corpus as
// one stream. Rates are in bytes of original per second; `ratio` is the
// compressed size over the original. The plain decoder, written straight
// from the format, runs beside the real one on the same streams.

#include "bench/plain_decoder.h"
#include "decoder/codec.h"
#include "decoder/decode.h"
#include "decoder/memory.h"

#include <benchmark/benchmark.h>

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
        std::ifstream in(std::string(SHARED_DATA_DIR) + "/corpus/" + name, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "codec_bench: missing %s/corpus/%s\n", SHARED_DATA_DIR, name);
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

struct LevelName {
    Level level;
    const char* name;
};
const LevelName Levels[] = {
    {Level::Fast, "fast"}, {Level::Greedy, "greedy"}, {Level::Lazy, "lazy"}, {Level::Best, "best"}};

void Encode(benchmark::State& state, const Input* input, Level level) {
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
        std::fprintf(stderr, "codec_bench: no corpus under %s\n", SHARED_DATA_DIR);
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
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input* input = &inputs[i];
        benchmark::RegisterBenchmark(("Decode/" + input->name).c_str(), Decode, input, &shipped[i])
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DecodePlain/" + input->name).c_str(), DecodePlain, input,
                                     &shipped[i])
            ->Unit(benchmark::kMillisecond);
    }
    for (const LevelName& level : Levels) {
        for (const Input& input : inputs) {
            benchmark::RegisterBenchmark(
                (std::string("Encode/") + level.name + "/" + input.name).c_str(), Encode, &input,
                level.level)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
