// WAV files: writing 8 kHz mono 16-bit audio, reading PCM of any common layout.
#include "platform/audio/WavFile.h"

#include "platform/files/ReplaceFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace peltra::platform {
namespace {

void put32(std::uint8_t* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t get32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint16_t get16(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// One sample of the given layout at a byte offset, scaled to -1 .. 1.
float sampleAt(const std::string& bytes, std::size_t at, std::uint16_t bits, bool isFloat)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    if (isFloat) {
        const std::uint32_t word = get32(bytes, at);
        float value = 0;
        std::memcpy(&value, &word, sizeof value);
        return value;
    }
    switch (bits) {
    case 8:
        return (static_cast<float>(byte(0)) - 128.0f) / 128.0f;
    case 16:
        return static_cast<float>(static_cast<std::int16_t>(get16(bytes, at))) / 32768.0f;
    case 24: {
        const std::int32_t v = static_cast<std::int32_t>((std::uint32_t{byte(2)} << 24) | (std::uint32_t{byte(1)} << 16) |
                                                         (std::uint32_t{byte(0)} << 8)) >> 8;
        return static_cast<float>(v) / 8388608.0f;
    }
    default:
        return static_cast<float>(static_cast<std::int32_t>(get32(bytes, at))) / 2147483648.0f;
    }
}

}  // namespace

std::optional<WavAudio> readWav(const std::filesystem::path& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path.string() + ": cannot be opened: " + std::strerror(errno);
        return std::nullopt;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path.string() + ": cannot be read";
        return std::nullopt;
    }
    return parseWav(bytes, path.string(), error);
}

std::optional<WavAudio> parseWav(const std::string& bytes, const std::string& name, std::string& error)
{
    const auto fail = [&](const std::string& why) {
        error = name + ": " + why;
        return std::nullopt;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return fail("not a WAV file (no RIFF WAVE header)");
    WavAudio audio;
    std::uint16_t format = 0;
    std::uint16_t blockAlign = 0;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const std::uint64_t declared = get32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            if (declared < 16 || body + 16 > bytes.size())
                return fail("its format chunk is damaged");
            format = get16(bytes, body);
            audio.channels = get16(bytes, body + 2);
            audio.sampleRate = get32(bytes, body + 4);
            blockAlign = get16(bytes, body + 12);
            audio.bitsPerSample = get16(bytes, body + 14);
            if (format == kFormatExtensible) {
                if (declared < 40 || body + 40 > bytes.size())
                    return fail("its extensible format chunk is damaged");
                format = get16(bytes, body + 24);  // the sub-format GUID's first two bytes
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return fail("its sound comes before its format chunk");
            const bool isFloat = format == kFormatFloat;
            if (format != kFormatPcm && !(isFloat && audio.bitsPerSample == 32))
                return fail("its sound is not PCM (format " + std::to_string(format) +
                            "); convert it to PCM WAV first");
            if (audio.bitsPerSample != 8 && audio.bitsPerSample != 16 && audio.bitsPerSample != 24 &&
                audio.bitsPerSample != 32)
                return fail("PCM of " + std::to_string(audio.bitsPerSample) + " bits is not supported");
            const std::size_t width = audio.bitsPerSample / 8;
            if (audio.channels == 0 || audio.sampleRate == 0 || blockAlign != width * audio.channels)
                return fail("its format chunk is inconsistent");
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(declared, bytes.size() - body));
            const std::size_t frames = size / blockAlign;
            audio.samples.reserve(frames);
            for (std::size_t frame = 0; frame < frames; ++frame) {
                float sum = 0;
                for (std::size_t channel = 0; channel < audio.channels; ++channel)
                    sum += sampleAt(bytes, body + frame * blockAlign + channel * width, audio.bitsPerSample, isFloat);
                audio.samples.push_back(sum / static_cast<float>(audio.channels));
            }
            return audio;
        }
        at = body + declared + (declared & 1);
    }
    return fail(haveFormat ? "it holds no sound (no data chunk)" : "it has no format chunk");
}

bool writeWav(const std::filesystem::path& path, std::span<const std::int16_t> samples, std::string& error)
{
    const std::uint64_t dataBytes = std::uint64_t{samples.size()} * 2;
    if (dataBytes > std::numeric_limits<std::uint32_t>::max() - (kWavHeaderBytes - 8)) {
        error = "the audio is too long for a WAV file";
        return false;
    }

    std::array<std::uint8_t, kWavHeaderBytes> header{};
    std::memcpy(&header[0], "RIFF", 4);
    put32(&header[4], static_cast<std::uint32_t>(kWavHeaderBytes - 8 + dataBytes));
    std::memcpy(&header[8], "WAVE", 4);
    std::memcpy(&header[12], "fmt ", 4);
    put32(&header[16], 16);                     // format chunk size
    put16(&header[20], 1);                      // PCM
    put16(&header[22], 1);                      // mono
    put32(&header[24], kWavSampleRate);
    put32(&header[28], kWavSampleRate * 2);     // bytes per second
    put16(&header[32], 2);                      // bytes per frame
    put16(&header[34], 16);                     // bits per sample
    std::memcpy(&header[36], "data", 4);
    put32(&header[40], static_cast<std::uint32_t>(dataBytes));

    return replaceFile(
        path,
        [&](const ByteSink& sink) {
            if (!sink(header.data(), header.size()))
                return false;
            // Little-endian samples, converted a block at a time.
            std::array<std::uint8_t, 8192> block{};
            std::size_t done = 0;
            while (done < samples.size()) {
                const std::size_t n = std::min(block.size() / 2, samples.size() - done);
                for (std::size_t i = 0; i < n; ++i)
                    put16(&block[2 * i], static_cast<std::uint16_t>(samples[done + i]));
                if (!sink(block.data(), 2 * n))
                    return false;
                done += n;
            }
            return true;
        },
        error);
}

}  // namespace peltra::platform
