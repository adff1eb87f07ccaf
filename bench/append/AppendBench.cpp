// Per-buffer append: our writer, the limit (the same output bytes written
// with plain write() from a 1 MiB buffer, no conversion) and the peer
// (libsndfile converting the same samples, clipping on), all writing files
// in one temporary directory. After the run a table prints ns per buffer and
// the ratios ours/limit and libsndfile/ours (medians with
// --benchmark_repetitions), then the same as "| " rows for bench/run.sh.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/media/AVAssetWriter.h"
#include "platform/media/AVAssetWriterInput.h"
#include "platform/media/wave/ByteSink.h"
#include "platform/media/wave/WaveFileWriter.h"
#include "platform/pcm/SampleCodecs.h"
#include "tests/support/SampleRules.h"

namespace {

// The kernels the pipeline uses for float32 and byte-swapped 16-bit input.
const pcm::DirectConverter floatToInt32 = pcm::selectDirectConverter({pcm::SampleKind::Float, 4, 32, false, false}, 32);
const pcm::DirectConverter swapInt16 = pcm::selectDirectConverter({pcm::SampleKind::SignedInt, 2, 16, true, false}, 16);

constexpr size_t kFileBytes = size_t{64} << 20;  // each file is replaced after this much output
constexpr size_t kLimitBuffer = size_t{1} << 20;

std::string& benchDir() {
    static std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/append-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

std::string freshPath(const char* stem) {
    static int counter = 0;
    const std::string path = benchDir() + "/" + stem + std::to_string(counter++) + ".wav";
    std::filesystem::remove(path);
    return path;
}

struct Case {
    const char* name;
    double rate;
    uint32_t outBits;
    int64_t frames;
    bool floatInput;  // float32 LE, else int16 BE
};

const Case kCases[] = {
    {"f32_stereo_48k_1024_to_s32", 48000, 32, 1024, true},
    {"s16be_stereo_44k1_1024_to_s16", 44100, 16, 1024, false},
    {"s16be_stereo_44k1_22050_to_s16", 44100, 16, 22050, false},
};

// Input bytes for a case: a loud sine with some clipping, two channels.
std::vector<uint8_t> inputBytes(const Case& c) {
    const size_t samples = static_cast<size_t>(c.frames) * 2;
    std::vector<uint8_t> bytes(samples * (c.floatInput ? 4 : 2));
    for (size_t i = 0; i < samples; ++i) {
        const double x = 1.1 * std::sin(static_cast<double>(i / 2) * 0.01);
        if (c.floatInput) {
            const auto f = static_cast<float>(x);
            std::memcpy(bytes.data() + 4 * i, &f, 4);
        } else {
            const auto v = static_cast<int16_t>(std::lrint(std::fmax(-1.0, std::fmin(x, 32767.0 / 32768)) * 32767));
            bytes[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
            bytes[2 * i + 1] = static_cast<uint8_t>(v & 0xFF);
        }
    }
    return bytes;
}

NSDictionary settingsFor(const Case& c) {
    return NSDictionary{
        {std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(0x6C70636D)},
        {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(static_cast<uint64_t>(c.rate))},
        {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(c.outBits)},
        {std::string(AVLinearPCMIsNonInterleaved), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsFloatKey), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsBigEndianKey), NSNumber::numberWithBool(false)},
        {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(2)}};
}

size_t outputBytesPerBuffer(const Case& c) { return static_cast<size_t>(c.frames) * 2 * c.outBits / 8; }

// Runs `append` once per iteration into files that are replaced, untimed,
// every `perFile` buffers, so no file grows past kFileBytes.
template <typename Open, typename Close, typename Append>
void appendToRotatingFiles(benchmark::State& state, size_t perFile, Open open, Close close, Append append) {
    open();
    size_t inFile = 0;
    for (auto _ : state) {
        if (inFile == perFile) {
            state.PauseTiming();
            close();
            open();
            inFile = 0;
            state.ResumeTiming();
        }
        append();
        ++inFile;
    }
    close();
}

void BM_Ours(benchmark::State& state, Case c) {
    const std::vector<uint8_t> data = inputBytes(c);
    CMSampleBuffer buffer;
    buffer.formatDescription = CMFormatDescription{
        CMMediaType::Audio,
        makeLinearPCMDescription(
            c.rate, 2, c.floatInput ? 32 : 16,
            c.floatInput ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian)};
    buffer.audioBuffers = {AudioBuffer{2, static_cast<uint32_t>(data.size()), data.data()}};
    buffer.numSamples = c.frames;

    const size_t perFile = std::max<size_t>(1, kFileBytes / outputBytesPerBuffer(c));
    std::shared_ptr<AVAssetWriter> writer;
    std::shared_ptr<AVAssetWriterInput> input;
    std::string path;
    auto open = [&] {
        path = freshPath("ours");
        writer = AVAssetWriter::assetWriterWithURL(NSURL(path), AVFileTypeWAVE, nullptr);
        input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(c));
        writer->addInput(input);
        writer->startWriting();
        writer->startSessionAtSourceTime(kCMTimeZero);
    };
    auto close = [&] {
        writer->finishWriting();
        input.reset();
        writer.reset();
        std::filesystem::remove(path);
    };
    appendToRotatingFiles(state, perFile, open, close,
                          [&] { benchmark::DoNotOptimize(input->appendSampleBuffer(&buffer)); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * outputBytesPerBuffer(c)));
}

void BM_Limit(benchmark::State& state, Case c) {
    std::vector<uint8_t> block(kLimitBuffer, 0x5A);
    const size_t perBuffer = outputBytesPerBuffer(c);
    const size_t perFile = std::max<size_t>(1, kFileBytes / perBuffer);
    std::string path;
    int fd = -1;
    size_t pending = 0;
    auto open = [&] {
        path = freshPath("limit");
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    };
    auto close = [&] {
        ::close(fd);
        std::filesystem::remove(path);
    };
    appendToRotatingFiles(state, perFile, open, close, [&] {
        pending += perBuffer;
        while (pending >= kLimitBuffer) {
            benchmark::DoNotOptimize(::write(fd, block.data(), kLimitBuffer));
            pending -= kLimitBuffer;
        }
    });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * perBuffer));
}

void BM_Libsndfile(benchmark::State& state, Case c) {
    const std::vector<uint8_t> data = inputBytes(c);
    const size_t samples = static_cast<size_t>(c.frames) * 2;
    std::vector<float> floats(c.floatInput ? samples : 0);
    if (c.floatInput) std::memcpy(floats.data(), data.data(), samples * 4);
    std::vector<short> shorts(c.floatInput ? 0 : samples);

    const size_t perFile = std::max<size_t>(1, kFileBytes / outputBytesPerBuffer(c));
    std::string path;
    SNDFILE* file = nullptr;
    auto open = [&] {
        path = freshPath("sndfile");
        SF_INFO info{};
        info.samplerate = static_cast<int>(c.rate);
        info.channels = 2;
        info.format = SF_FORMAT_WAV | (c.outBits == 32 ? SF_FORMAT_PCM_32 : SF_FORMAT_PCM_16);
        file = sf_open(path.c_str(), SFM_WRITE, &info);
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    };
    auto close = [&] {
        sf_close(file);
        std::filesystem::remove(path);
    };
    appendToRotatingFiles(state, perFile, open, close, [&] {
        if (c.floatInput) {
            benchmark::DoNotOptimize(sf_writef_float(file, floats.data(), c.frames));
        } else {
            // libsndfile takes native shorts: the big-endian input is swapped first.
            for (size_t i = 0; i < samples; ++i) shorts[i] = static_cast<short>((data[2 * i] << 8) | data[2 * i + 1]);
            benchmark::DoNotOptimize(sf_writef_short(file, shorts.data(), c.frames));
        }
    });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * outputBytesPerBuffer(c)));
}

// The file writer alone, converting with the kernels the pipeline uses:
// args are the case (0: f32 -> 32-bit, 1: s16be -> 16-bit) and the
// user-space buffer in KiB, so buffer sizes compare in one run.
void BM_Writer(benchmark::State& state) {
    const Case c = kCases[state.range(0)];
    const std::vector<uint8_t> data = inputBytes(c);
    const size_t perBuffer = outputBytesPerBuffer(c);
    const size_t samples = static_cast<size_t>(c.frames) * 2;
    std::unique_ptr<media::WaveFileWriter> file;
    std::string path;
    auto open = [&] {
        path = freshPath("writer");
        media::WaveFileWriter::Options options;
        options.bufferBytes = static_cast<size_t>(state.range(1)) << 10;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        file = std::make_unique<media::WaveFileWriter>(std::make_unique<media::FileDescriptorSink>(fd), options);
        file->begin({static_cast<uint32_t>(c.rate), 2, static_cast<uint16_t>(c.outBits)});
    };
    auto close = [&] {
        file->finish();
        file.reset();
        std::filesystem::remove(path);
    };
    appendToRotatingFiles(state, kFileBytes / perBuffer, open, close, [&] {
        uint8_t* dst = file->reserve(perBuffer);
        if (c.floatInput) {
            floatToInt32(data.data(), samples, dst);
        } else {
            swapInt16(data.data(), samples, dst);
        }
        file->commit(static_cast<uint64_t>(c.frames));
    });
}
BENCHMARK(BM_Writer)->ArgsProduct({{0, 1}, {128, 512, 1024}});

// Raw kernels beside the plain scalar rules they implement.
constexpr size_t kKernelSamples = 2048;

std::vector<float> kernelFloats() {
    std::vector<float> v(kKernelSamples);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(-1.2f, 1.2f);
    for (auto& x : v) x = d(rng);
    return v;
}

void BM_Kernel_FloatToInt32(benchmark::State& state) {
    const auto in = kernelFloats();
    std::vector<uint8_t> out(kKernelSamples * 4);
    for (auto _ : state) {
        floatToInt32(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Kernel_FloatToInt32);

void BM_Naive_FloatToInt32(benchmark::State& state) {
    const auto in = kernelFloats();
    std::vector<int32_t> out(kKernelSamples);
    for (auto _ : state) {
        uint64_t clipped = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            bool c = false;
            out[i] = testing_support::quantiseRealReference(in[i], 32, c);
            clipped += c ? 1 : 0;
        }
        benchmark::DoNotOptimize(clipped);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Naive_FloatToInt32);

void BM_Kernel_SwapInt16(benchmark::State& state) {
    std::vector<uint8_t> in(kKernelSamples * 2, 0x12), out(kKernelSamples * 2);
    for (auto _ : state) {
        swapInt16(in.data(), kKernelSamples, out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Kernel_SwapInt16);

__attribute__((optimize("no-tree-vectorize"))) void naiveSwap(const uint8_t* in, size_t n, uint8_t* out) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = in[2 * i + 1];
        out[2 * i + 1] = in[2 * i];
    }
}

void BM_Naive_SwapInt16(benchmark::State& state) {
    std::vector<uint8_t> in(kKernelSamples * 2, 0x12), out(kKernelSamples * 2);
    for (auto _ : state) {
        naiveSwap(in.data(), kKernelSamples, out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Naive_SwapInt16);

// Keeps the console output and remembers CPU ns per iteration for the
// table (CPU time counts the write() system calls and is steadier than wall
// time on a shared machine). With --benchmark_repetitions the median of the
// repetitions is kept.
class TableReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nsPerIteration;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!single && !median) continue;
            const std::string& args = run.run_name.args;
            nsPerIteration[run.run_name.function_name + (args.empty() ? "" : "/" + args)] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("Ours/") + c.name).c_str(), BM_Ours, c);
        benchmark::RegisterBenchmark((std::string("Limit/") + c.name).c_str(), BM_Limit, c);
        benchmark::RegisterBenchmark((std::string("Libsndfile/") + c.name).c_str(), BM_Libsndfile, c);
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-34s %12s %12s %12s %11s %16s\n", "per-buffer append (CPU)", "ours ns", "limit ns", "sndfile ns",
                "ours/limit", "sndfile/ours");
    for (const Case& c : kCases) {
        const auto find = [&](const char* who) {
            const auto it = reporter.nsPerIteration.find(std::string(who) + "/" + c.name);
            return it == reporter.nsPerIteration.end() ? NAN : it->second;
        };
        const double ours = find("Ours"), limit = find("Limit"), peer = find("Libsndfile");
        std::printf("%-34s %12.0f %12.0f %12.0f %11.2f %16.2f\n", c.name, ours, limit, peer, ours / limit, peer / ours);
    }
    // The same figures as table rows for bench/run.sh, which collects lines starting with "| ".
    for (const Case& c : kCases) {
        const auto find = [&](const char* who) {
            const auto it = reporter.nsPerIteration.find(std::string(who) + "/" + c.name);
            return it == reporter.nsPerIteration.end() ? NAN : it->second;
        };
        const double ours = find("Ours"), limit = find("Limit"), peer = find("Libsndfile");
        if (std::isnan(ours)) continue;
        std::printf(
            "| per-buffer append %s | %.0f ns | limit %.0f ns, libsndfile %.0f ns | %.2fx, sndfile/ours %.2fx |\n",
            c.name, ours, limit, peer, ours / limit, peer / ours);
    }
    const auto kernel = [&](const char* a, const char* b) {
        const auto ia = reporter.nsPerIteration.find(a), ib = reporter.nsPerIteration.find(b);
        if (ia != reporter.nsPerIteration.end() && ib != reporter.nsPerIteration.end())
            std::printf("%-34s %12.0f ns vs %-26s %8.0f ns (%.2fx faster)\n", a, ia->second, b, ib->second,
                        ib->second / ia->second);
    };
    kernel("BM_Kernel_FloatToInt32", "BM_Naive_FloatToInt32");
    kernel("BM_Kernel_SwapInt16", "BM_Naive_SwapInt16");
    std::filesystem::remove_all(benchDir());
    return 0;
}
