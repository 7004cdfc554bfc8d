// The simulator's call log file: one JSON object per line and call, with the station's result.
#pragma once

#include "sim/CallRecord.h"
#include "sim/PartyBehaviour.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::sim {

// The station's result codes as the log writes them; any other value is an error code.
inline constexpr std::uint32_t kResultDelivered = 0;
inline constexpr std::uint32_t kResultNoAnswer = 1;
inline constexpr std::uint32_t kResultHungUp = 2;

// One line of the log, read back.
struct CallLogEntry {
    std::size_t call = 0;          // the simulator's call number
    std::string line;              // the port, "SIM1"
    std::string number;            // the digits the exchange recognised
    PartyBehaviour behaviour;      // the plan's keys only (no glitches)
    bool answered = false;
    std::uint64_t bytesHeard = 0;  // while off-hook
    std::uint64_t partyHeardBytes = 0;
    bool hungUp = false;           // the party hung up
    bool unplugged = false;
    std::uint32_t result = 0;      // the station's result code
    // ms from going off-hook; nothing when it did not happen.
    std::optional<double> completeMs;
    std::optional<double> answerMs;
    std::optional<double> partyHangupMs;
    std::optional<double> callerHangupMs;
    std::string loggedAt;          // UTC, "2024-05-01T12:00:00.123Z"
};

// The line written for a call, without its '\n':
//   {"call":3,"line":"SIM1","number":"2345678",
//    "behaviour":{"line":"ok","answer_after_ms":1000,"hangup_after_ms":null,"pulse_reversal":false},
//    "answered":true,"bytes_heard":86400,"party_heard_bytes":80000,"hung_up":false,
//    "unplugged":false,"result":0,"complete_ms":8000.0,"answer_ms":9021.3,"party_hangup_ms":null,
//    "caller_hangup_ms":13800.2,"logged_at":"2024-05-01T12:00:00.123Z"}
// Times are rounded to 0.1 ms. The behaviour is record.behaviour.
std::string formatCallLogLine(const CallRecord& record, std::uint32_t result);
// Reads one line back; `place` starts the error message.
std::optional<CallLogEntry> parseCallLogLine(std::string_view line, const std::string& place, std::string& error);

// Appends to a log file shared with other writers: each line goes out with one write() on a
// descriptor opened with O_APPEND, so it reaches the file whole and at once (a killed station
// leaves only whole lines), and lines of several threads or processes never mix. Every member may
// be called from any thread.
class CallLog {
public:
    CallLog() = default;
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Opens (creating it, mode 0644) the file for appending. A last line left unfinished by an
    // earlier writer is ended first, so the next entry starts a line of its own. False, with
    // `error` naming the file, when it cannot be opened.
    bool open(const std::filesystem::path& path, std::string& error);
    bool isOpen() const;
    const std::filesystem::path& path() const { return m_path; }
    void close();

    // Logs a finished call with the station's result for it (the result the station reported for
    // the latest call on record.port). False, with `error` naming the file, when it could not be
    // written whole.
    bool write(const CallRecord& record, std::uint32_t result, std::string& error);
    // The same with the behaviour given instead of record.behaviour.
    bool write(const CallRecord& record, const PartyBehaviour& behaviour, std::uint32_t result, std::string& error);

private:
    mutable std::mutex m_mutex;
    std::filesystem::path m_path;
    int m_fd = -1;
};

struct CallLogContents {
    std::vector<CallLogEntry> entries;
    // Lines cut short (a writer stopped in the middle of one), skipped.
    std::size_t tornLines = 0;
};

// Reads a whole log. Lines cut short are skipped and counted; an empty line is skipped. Nothing,
// with `error` naming the file and line, when the file cannot be read or a complete line is not
// a call log entry.
std::optional<CallLogContents> readCallLog(const std::filesystem::path& path, std::string& error);

}  // namespace peltra::sim
