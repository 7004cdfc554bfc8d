// A line view that keeps everything a line shows, for tests to read from any thread.
#pragma once

#include "line/LineInterfaces.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace peltra::test {

class RecordingView : public line::LineView {
public:
    struct Message {
        std::string caption;
        std::string text;
    };

    void showPortName(const std::string& port) override;
    void showPolarity(bool normal) override;
    void setDisplayText(const std::string& text) override;
    void appendDisplayText(const std::string& text) override;
    void appendLog(const std::string& text) override;
    void replaceLog(const std::string& text) override;
    void appendPhraseLog(const std::string& text) override;
    void showMessage(const std::string& caption, const std::string& text) override;

    std::string portName() const;
    std::string display() const;
    // Every text the display showed, in order (appends make a new entry with the whole text).
    std::vector<std::string> displayHistory() const;
    std::string log() const;
    std::string phraseLog() const;
    std::vector<Message> messages() const;
    std::vector<bool> polarityHistory() const;

private:
    mutable std::mutex m_mutex;
    std::string m_port;
    std::string m_display;
    std::vector<std::string> m_displayHistory;
    std::string m_log;
    std::string m_phraseLog;
    std::vector<Message> m_messages;
    std::vector<bool> m_polarity;
};

// Keeps the results a line reports, and their reasons.
class RecordingOwner : public line::CallResultSink {
public:
    void callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason) override;
    std::vector<std::pair<unsigned, std::uint32_t>> results() const;
    std::vector<std::string> reasons() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<unsigned, std::uint32_t>> m_results;
    std::vector<std::string> m_reasons;
};

// Fixed call settings.
class FixedCallSettings : public line::CallSettingsSource {
public:
    explicit FixedCallSettings(line::CallSettings settings) : m_settings(std::move(settings)) {}
    line::CallSettings callSettings(const std::string&) override { return m_settings; }

private:
    line::CallSettings m_settings;
};

}  // namespace peltra::test
