// What a line device reports and what it asks of the station: the monitor window's view, the
// port settings of a call, and the receiver of call results.
#pragma once

#include "line/DialString.h"
#include "platform/text/Trim.h"

#include <cstdint>
#include <string>

namespace peltra::line {

// Results of a call, of a playback and of the writer.
inline constexpr std::uint32_t kCallDelivered = 0;   // "Нормально"
inline constexpr std::uint32_t kCallNoAnswer = 1;    // "Нет ответа"
inline constexpr std::uint32_t kCallHungUp = 2;      // "Положили трубку"
inline constexpr std::uint32_t kCallShutdown = 10;   // the line or the station is closing
inline constexpr std::uint32_t kCallError = 0x80000000u;  // "Ошибка"

// The entry of a phrase list that marks the message as delivered once what comes before it has
// been sent; it is no phrase of the library.
inline constexpr char kDeliveryMarker[] = "____";

// The display label's colour: one while an attempt runs, one after the result is reported.
enum class DisplayColour { Attempt, Finished };

// What the line's monitor window shows. Every call comes from one of the line's own threads (or
// the pulse timer) and must return quickly: a window queues the change to its UI thread, the
// headless station writes a log line. Messages are notices, never modal waits.
class LineView {
public:
    virtual ~LineView() = default;

    virtual void showPortName(const std::string& /*port*/) {}
    virtual void showHook(bool /*offHook*/) {}
    // The carrier-detect input as it is now (the raw indicator).
    virtual void showCarrier(bool /*on*/) {}
    // The polarity after debouncing: normal (line present, idle or calling) or reversed.
    virtual void showPolarity(bool /*normal*/) {}
    virtual void setDisplayText(const std::string& /*text*/) {}
    virtual void appendDisplayText(const std::string& /*text*/) {}
    virtual void setDisplayColour(DisplayColour /*colour*/) {}
    // The line's text log; lines end with CR LF.
    virtual void appendLog(const std::string& /*text*/) {}
    virtual void replaceLog(const std::string& /*text*/) {}
    // The codes of the phrases played, one per line.
    virtual void appendPhraseLog(const std::string& /*text*/) {}
    // The status texts are cleared when a call has finished.
    virtual void clearStatus() {}
    // A message box: caption and text, shown without blocking the line.
    virtual void showMessage(const std::string& /*caption*/, const std::string& /*text*/) {}
};

// Why the attempts of one call failed, each reason once, in the order met: the error result's
// reason. A line that was not ready at one attempt and failed differently at the next reports both.
class AttemptReasons {
public:
    // Adds reason, made one line, unless it is empty or already there, and clears it.
    void take(std::string& reason)
    {
        const std::string line = platform::oneLine(reason);
        if (!line.empty() && ("; " + m_text + "; ").find("; " + line + "; ") == std::string::npos)
            m_text += (m_text.empty() ? "" : "; ") + line;
        reason.clear();
    }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// The port settings of one call, read afresh from the store when the call starts.
struct CallSettings {
    DialSettings dial;
    std::uint32_t ringOffMs = 1000;   // on-hook time after a call or attempt
    std::uint32_t waitAnswerS = 30;   // how long to wait for the answer after dialing
    bool pulseReversalAnswer = false; // the answer is a short reversal; normal polarity is no hang-up
};

// Reads a port's call settings. Called on the thread that starts a call.
class CallSettingsSource {
public:
    virtual ~CallSettingsSource() = default;
    virtual CallSettings callSettings(const std::string& port) = 0;
};

// Receives the one result of every call that ran to an end. Called on the line's session thread.
// reason: for an error result, why, in the line's own display or log text ("неисправность",
// "полярность!", the library's "no phrase" text, ...); empty for the other results.
class CallResultSink {
public:
    virtual ~CallResultSink() = default;
    virtual void callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason) = 0;
    // A line whose carrier comes and goes while it is open (a SIP trunk that registers or loses
    // its registration) says so; why: the reason it cannot take calls. Called on the carrier's
    // own thread, never while the line's owner is inside one of the line's operations.
    virtual void lineReadiness(unsigned /*lineNumber*/, bool /*ready*/, const std::string& /*why*/) {}
};

}  // namespace peltra::line
