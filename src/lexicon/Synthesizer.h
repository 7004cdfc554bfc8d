// Speech synthesis of phrase texts with espeak-ng, run as a separate program.
#pragma once

#include "platform/audio/WavFile.h"

#include <optional>
#include <string>

namespace peltra::lexicon {

// Said when espeak-ng cannot be started.
inline constexpr char kSynthesizerMissing[] =
    "espeak-ng is not installed; install the Debian package espeak-ng (apt-get install espeak-ng)";

// Turns a phrase's text into sound.
class Synthesizer {
public:
    virtual ~Synthesizer() = default;
    // The spoken text as audio at the synthesiser's own rate; nothing, with error set, on failure.
    virtual std::optional<platform::WavAudio> speak(const std::string& text, std::string& error) const = 0;
};

// espeak-ng, run once per phrase. The text goes to it in a file, so nothing in the text is read
// as an option.
class EspeakSynthesizer : public Synthesizer {
public:
    // voice as espeak-ng names it ("ru").
    explicit EspeakSynthesizer(std::string voice);

    std::optional<platform::WavAudio> speak(const std::string& text, std::string& error) const override;

private:
    std::string m_voice;
};

}  // namespace peltra::lexicon
