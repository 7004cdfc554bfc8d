// A line view and result sink that keep everything, for tests.
#include "RecordingView.h"

namespace peltra::test {

void RecordingView::showPortName(const std::string& port)
{
    std::lock_guard lock(m_mutex);
    m_port = port;
}

void RecordingView::showPolarity(bool normal)
{
    std::lock_guard lock(m_mutex);
    m_polarity.push_back(normal);
}

void RecordingView::setDisplayText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_display = text;
    m_displayHistory.push_back(m_display);
}

void RecordingView::appendDisplayText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_display += text;
    m_displayHistory.push_back(m_display);
}

void RecordingView::appendLog(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_log += text;
}

void RecordingView::replaceLog(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_log = text;
}

void RecordingView::appendPhraseLog(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_phraseLog += text;
}

void RecordingView::showMessage(const std::string& caption, const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_messages.push_back({caption, text});
}

std::string RecordingView::portName() const
{
    std::lock_guard lock(m_mutex);
    return m_port;
}

std::string RecordingView::display() const
{
    std::lock_guard lock(m_mutex);
    return m_display;
}

std::vector<std::string> RecordingView::displayHistory() const
{
    std::lock_guard lock(m_mutex);
    return m_displayHistory;
}

std::string RecordingView::log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::string RecordingView::phraseLog() const
{
    std::lock_guard lock(m_mutex);
    return m_phraseLog;
}

std::vector<RecordingView::Message> RecordingView::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<bool> RecordingView::polarityHistory() const
{
    std::lock_guard lock(m_mutex);
    return m_polarity;
}

void RecordingOwner::callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    m_results.emplace_back(lineNumber, result);
    m_reasons.push_back(reason);
}

std::vector<std::string> RecordingOwner::reasons() const
{
    std::lock_guard lock(m_mutex);
    return m_reasons;
}

std::vector<std::pair<unsigned, std::uint32_t>> RecordingOwner::results() const
{
    std::lock_guard lock(m_mutex);
    return m_results;
}

}  // namespace peltra::test
