// What a line shows and reports, kept for tests to read from any thread, and fixed call settings.
#pragma once

#include "line/LineInterfaces.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace peltra::test {

// Locks one object's fields for a short read or change.
class Recorder {
protected:
    template <typename T> T get(const T& field) const
    {
        std::lock_guard lock(m_mutex);
        return field;
    }
    template <typename F> void change(F&& body)
    {
        std::lock_guard lock(m_mutex);
        body();
    }

private:
    mutable std::mutex m_mutex;
};

class RecordingView : public line::LineView, Recorder {
public:
    struct Message {
        std::string caption;
        std::string text;
    };

    void showPortName(const std::string& port) override { change([&] { m_port = port; }); }
    void showPolarity(bool normal) override { change([&] { m_polarity.push_back(normal); }); }
    void setDisplayText(const std::string& text) override { change([&] { m_displayHistory.push_back(text); }); }
    void appendDisplayText(const std::string& text) override
    {
        change([&] { m_displayHistory.push_back((m_displayHistory.empty() ? "" : m_displayHistory.back()) + text); });
    }
    void appendLog(const std::string& text) override { change([&] { m_log += text; }); }
    void replaceLog(const std::string& text) override { change([&] { m_log = text; }); }
    void appendPhraseLog(const std::string& text) override { change([&] { m_phraseLog += text; }); }
    void showMessage(const std::string& caption, const std::string& text) override
    {
        change([&] { m_messages.push_back({caption, text}); });
    }

    std::string portName() const { return get(m_port); }
    // Every text the display showed, in order (appends make a new entry with the whole text).
    std::vector<std::string> displayHistory() const { return get(m_displayHistory); }
    std::string log() const { return get(m_log); }
    std::string phraseLog() const { return get(m_phraseLog); }
    std::vector<Message> messages() const { return get(m_messages); }
    std::vector<bool> polarityHistory() const { return get(m_polarity); }

private:
    std::string m_port, m_log, m_phraseLog;
    std::vector<std::string> m_displayHistory;
    std::vector<Message> m_messages;
    std::vector<bool> m_polarity;
};

// Keeps the results a line reports, and their reasons.
class RecordingOwner : public line::CallResultSink, Recorder {
public:
    void callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason) override
    {
        change([&] { m_results.emplace_back(lineNumber, result), m_reasons.push_back(reason); });
    }
    std::vector<std::pair<unsigned, std::uint32_t>> results() const { return get(m_results); }
    std::vector<std::string> reasons() const { return get(m_reasons); }

private:
    std::vector<std::pair<unsigned, std::uint32_t>> m_results;
    std::vector<std::string> m_reasons;
};

class FixedCallSettings : public line::CallSettingsSource {
public:
    explicit FixedCallSettings(line::CallSettings settings) : m_settings(std::move(settings)) {}
    line::CallSettings callSettings(const std::string&) override { return m_settings; }

private:
    line::CallSettings m_settings;
};

// Polls until pred holds or the limit passes; returns the final value of pred.
inline bool waitUntil(const std::function<bool()>& pred,
                      std::chrono::steady_clock::duration limit = std::chrono::seconds(1))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

// A phrase of n samples of a tone, 16-bit little-endian at 8 kHz.
inline std::vector<std::uint8_t> tonePcm(std::size_t samples, double amplitude = 8000, double hz = 440)
{
    std::vector<std::uint8_t> pcm;
    for (std::size_t k = 0; k < samples; ++k) {
        const auto s = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * k / 8000.0));
        pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return pcm;
}

}  // namespace peltra::test
