// A station home ready to call on simulated lines.
#include "support/StationSetup.h"

#include "calls/PortSettings.h"

#include <cmath>
#include <numbers>

namespace peltra::test {

line::PhonogramLibrary::Bytes tonePcm(std::uint32_t ms, double hz)
{
    line::PhonogramLibrary::Bytes pcm;
    const std::size_t samples = static_cast<std::size_t>(ms) * 8;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(
            4000 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 8000));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
    }
    return pcm;
}

bool configureFastLines(config::ConfigStore& store, unsigned lines, std::uint32_t waitAnswerS)
{
    calls::PortSettings settings(store);
    std::vector<std::string> names;
    for (unsigned i = 1; i <= lines; ++i)
        names.push_back("SIM" + std::to_string(i));
    bool ok = settings.setConfiguredPorts(names);
    for (const std::string& port : names) {
        ok = ok && settings.setPulseDialing(port, false) && settings.setRingOffMs(port, 250) &&
             settings.setDelayFirstMs(port, 50) && settings.setWaitAnswerS(port, waitAnswerS) &&
             settings.setDelayWMs(port, 50) && settings.setDelayPMs(port, 50) &&
             settings.setAnswerType(port, calls::AnswerType::LongReversal);
    }
    return ok;
}

bool writeToneLibrary(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::uint32_t>>& codesMs)
{
    std::vector<line::PhonogramLibrary::Phrase> phrases;
    for (const auto& [code, ms] : codesMs)
        phrases.push_back({code, tonePcm(ms)});
    phrases.push_back({"__PS", line::PhonogramLibrary::Bytes(800, 0)});
    return line::PhonogramLibrary::write(path, line::PhonogramLibrary::pcmFormat(), phrases);
}

}  // namespace peltra::test
