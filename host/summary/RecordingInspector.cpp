#include "RecordingInspector.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include <sndfile.h>

namespace host {
namespace {

std::string containerName(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX: return "RIFF";
        case SF_FORMAT_RF64: return "RF64";
        default: return "other";
    }
}

struct Encoding {
    uint32_t bitsPerSample;
    bool isFloat;
};

Encoding encodingOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8: return {8, false};
        case SF_FORMAT_PCM_16: return {16, false};
        case SF_FORMAT_PCM_24: return {24, false};
        case SF_FORMAT_PCM_32: return {32, false};
        case SF_FORMAT_FLOAT: return {32, true};
        case SF_FORMAT_DOUBLE: return {64, true};
        default: return {0, true};
    }
}

// A level in dB relative to full scale; none for silence.
std::optional<double> toDbfs(double level) {
    if (!(level > 0)) return std::nullopt;
    return 20.0 * std::log10(level);
}

// Samples read at a time: few enough system calls for a long recording
// (each read copies 128 KiB of 16-bit audio), little enough memory.
constexpr size_t kChunkSamples = 65536;

struct Levels {
    int64_t frames = 0;
    double peak = 0;  // full scale 1.0
    double rms = 0;
    uint64_t fullScaleSamples = 0;
};

// libsndfile reads an N-bit integer recording with the code in the top
// bits of the short or int it returns (code << shift), so that value over
// 2^15 or 2^31 is the sample's level exactly, whatever N is.

// The sums of one chunk of shorts: lowest and highest code, sum of squares
// and how many codes are at full scale.
struct ShortSums {
    int16_t lowest = 0;
    int16_t highest = 0;
    uint64_t squares = 0;
    uint64_t fullScale = 0;
};

void addShortsPlain(const int16_t* codes, size_t count, int16_t fullScale, ShortSums& sums) {
    for (size_t i = 0; i < count; ++i) {
        const int16_t code = codes[i];
        sums.lowest = std::min(sums.lowest, code);
        sums.highest = std::max(sums.highest, code);
        const int32_t wide = code;
        sums.squares += static_cast<uint32_t>(wide * wide);
        sums.fullScale += (code >= fullScale) | (code == INT16_MIN);
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define HOST_HAVE_AVX2_LEVELS 1
#include <immintrin.h>

// Sixteen codes at a time: pmaddwd squares and adds pairs (each pair below
// 2^31 + 1, exact as an unsigned 32-bit lane), widened into 64-bit lanes.
__attribute__((target("avx2"))) void addShortsAvx2(const int16_t* codes, size_t count, int16_t fullScale,
                                                   ShortSums& sums) {
    __m256i low = _mm256_set1_epi16(sums.lowest), high = _mm256_set1_epi16(sums.highest);
    __m256i squares = _mm256_setzero_si256(), full = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi16(static_cast<int16_t>(fullScale - 1));
    const __m256i bottom = _mm256_set1_epi16(INT16_MIN);
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + i));
        low = _mm256_min_epi16(low, v);
        high = _mm256_max_epi16(high, v);
        const __m256i pairs = _mm256_madd_epi16(v, v);
        squares = _mm256_add_epi64(squares, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(pairs)));
        squares = _mm256_add_epi64(squares, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(pairs, 1)));
        // -1 in each lane at full scale; counts go down, negated at the end.
        const __m256i atFull = _mm256_or_si256(_mm256_cmpgt_epi16(v, top), _mm256_cmpeq_epi16(v, bottom));
        full = _mm256_add_epi64(full, _mm256_sad_epu8(_mm256_and_si256(atFull, _mm256_set1_epi16(1)),
                                                      _mm256_setzero_si256()));
    }
    alignas(32) int16_t lows[16], highs[16];
    alignas(32) uint64_t sq[4], fl[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lows), low);
    _mm256_store_si256(reinterpret_cast<__m256i*>(highs), high);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sq), squares);
    _mm256_store_si256(reinterpret_cast<__m256i*>(fl), full);
    for (int k = 0; k < 16; ++k) {
        sums.lowest = std::min(sums.lowest, lows[k]);
        sums.highest = std::max(sums.highest, highs[k]);
    }
    sums.squares += sq[0] + sq[1] + sq[2] + sq[3];
    sums.fullScale += fl[0] + fl[1] + fl[2] + fl[3];
    addShortsPlain(codes + i, count - i, fullScale, sums);
}
#endif

void addShorts(const int16_t* codes, size_t count, int16_t fullScale, ShortSums& sums) {
#ifdef HOST_HAVE_AVX2_LEVELS
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return addShortsAvx2(codes, count, fullScale, sums);
#endif
    addShortsPlain(codes, count, fullScale, sums);
}

// Levels of a recording of at most 16 bits, read as shorts; a chunk's sum
// of squares (each below 2^31) fits 64 bits.
Levels shortLevels(SNDFILE* file, size_t channels, int bits) {
    const int shift = 16 - bits;
    const auto fullScale = static_cast<int16_t>(((1 << (bits - 1)) - 1) << shift);
    std::vector<int16_t> chunk(std::max(kChunkSamples, channels));
    const auto framesPerChunk = static_cast<sf_count_t>(chunk.size() / channels);
    __extension__ using Wide = unsigned __int128;
    Wide sumOfSquares = 0;
    ShortSums sums;
    Levels levels;
    while (true) {
        const sf_count_t got = sf_readf_short(file, chunk.data(), framesPerChunk);
        if (got <= 0) break;
        levels.frames += got;
        sums.squares = 0;
        addShorts(chunk.data(), static_cast<size_t>(got) * channels, fullScale, sums);
        sumOfSquares += sums.squares;
    }
    levels.fullScaleSamples = sums.fullScale;
    const double unit = 0x1p-15;
    levels.peak = std::max(-static_cast<double>(sums.lowest), static_cast<double>(sums.highest)) * unit;
    const double count = static_cast<double>(levels.frames) * static_cast<double>(channels);
    levels.rms = count > 0 ? std::sqrt(static_cast<double>(sumOfSquares) / count) * unit : 0;
    return levels;
}

// Levels of a 24- or 32-bit recording, read as ints and summed exactly.
Levels intLevels(SNDFILE* file, size_t channels, int bits) {
    const int shift = 32 - bits;
    const int64_t fullScale = ((int64_t{1} << (bits - 1)) - 1) << shift;
    std::vector<int32_t> chunk(std::max(kChunkSamples, channels));
    const auto framesPerChunk = static_cast<sf_count_t>(chunk.size() / channels);
    __extension__ using Wide = unsigned __int128;
    Wide sumOfSquares = 0;
    uint64_t peak = 0;
    Levels levels;
    while (true) {
        const sf_count_t got = sf_readf_int(file, chunk.data(), framesPerChunk);
        if (got <= 0) break;
        levels.frames += got;
        for (size_t i = 0; i < static_cast<size_t>(got) * channels; ++i) {
            const int64_t code = chunk[i];
            const auto magnitude = static_cast<uint64_t>(code < 0 ? -code : code);
            peak = std::max(peak, magnitude);
            sumOfSquares += magnitude * magnitude;
            levels.fullScaleSamples += (code >= fullScale || code == INT32_MIN) ? 1 : 0;
        }
    }
    const double unit = 0x1p-31;
    levels.peak = static_cast<double>(peak) * unit;
    const double count = static_cast<double>(levels.frames) * static_cast<double>(channels);
    levels.rms = count > 0 ? std::sqrt(static_cast<double>(sumOfSquares) / count) * unit : 0;
    return levels;
}

// Levels of a float recording; full scale is 1.0, and beyond it counts as
// full scale too.
Levels floatLevels(SNDFILE* file, size_t channels) {
    std::vector<double> chunk(std::max(kChunkSamples, channels));
    const auto framesPerChunk = static_cast<sf_count_t>(chunk.size() / channels);
    double sumOfSquares = 0;
    Levels levels;
    while (true) {
        const sf_count_t got = sf_readf_double(file, chunk.data(), framesPerChunk);
        if (got <= 0) break;
        levels.frames += got;
        for (size_t i = 0; i < static_cast<size_t>(got) * channels; ++i) {
            levels.peak = std::max(levels.peak, std::fabs(chunk[i]));
            sumOfSquares += chunk[i] * chunk[i];
            if (chunk[i] >= 1.0 || chunk[i] <= -1.0) ++levels.fullScaleSamples;
        }
    }
    const double count = static_cast<double>(levels.frames) * static_cast<double>(channels);
    levels.rms = count > 0 ? std::sqrt(sumOfSquares / count) : 0;
    return levels;
}

}  // namespace

std::optional<FileIdentity> identifyFile(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
                        static_cast<int64_t>(status.st_size),
                        static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

toolkit::RecordingSummary inspectRecording(const std::string& path) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info), &sf_close);
    if (!file) throw std::runtime_error("cannot read the recording \"" + path + "\": " + sf_strerror(nullptr));
    const Encoding encoding = encodingOf(info.format);
    toolkit::RecordingSummary facts;
    facts.status = toolkit::RecordingSummary::Status::Complete;
    facts.path = path;
    facts.container = containerName(info.format);
    facts.bitsPerSample = encoding.bitsPerSample;
    facts.sampleRate = static_cast<uint32_t>(info.samplerate);
    facts.channels = static_cast<uint32_t>(info.channels);

    // Read in small fixed chunks, so memory stays the same for any length.
    const size_t channels = static_cast<size_t>(std::max(info.channels, 1));
    const int bits = static_cast<int>(encoding.bitsPerSample);
    Levels levels;
    if (encoding.isFloat)
        levels = floatLevels(file.get(), channels);
    else if (bits > 16)
        levels = intLevels(file.get(), channels, bits);
    else
        levels = shortLevels(file.get(), channels, bits);
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        throw std::runtime_error("reading the recording \"" + path + "\" failed: " + sf_strerror(file.get()));
    facts.frames = static_cast<uint64_t>(levels.frames);
    facts.durationSeconds = info.samplerate > 0 ? static_cast<double>(levels.frames) / info.samplerate : 0;
    facts.levels = toolkit::RecordingLevels{toDbfs(levels.peak), toDbfs(levels.rms), levels.fullScaleSamples};
    const std::optional<FileIdentity> identity = identifyFile(path);
    facts.fileBytes = identity ? static_cast<uint64_t>(identity->size) : 0;
    return facts;
}

}  // namespace host
