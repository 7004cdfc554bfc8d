// The station-wide flags the operator sets (pause, local-phone mode, manual linking) as the
// running station sees them, mirrors of the stored values, and the wait for completion that only
// a shutdown sets.
#pragma once

#include "config/AppSettings.h"
#include "config/SchedulingFlags.h"

#include <atomic>
#include <mutex>
#include <string>

namespace peltra::engine {

// The status bar's texts for the scheduling and local-phone states.
inline constexpr char kSchedulerRunning[] = "Планировщик заданий работает";
inline constexpr char kSchedulerPaused[] = "Внимание: планировщик заданий остановлен";
inline constexpr char kRealCalls[] = "Включен режим реальной прозвонки.";
inline constexpr char kLocalPhoneStatus[] = "Внимание: включен режим \"Местный телефон\": ";

// Which flags follow() took from the store.
struct FlagChanges {
    bool paused = false;
    bool localPhone = false;  // the mode, or its number while it is on
    bool localPhoneUpdate = false;
    bool linkTaskPortManual = false;

    bool any() const { return paused || localPhone || localPhoneUpdate || linkTaskPortManual; }
};

// Written by whoever steers the station (the main window, the headless station's start-up),
// read by the controller without waiting. Setters change only the flags here; the operations
// of the controller write the store as well.
class StationFlags : public config::SchedulingFlags {
public:
    // The stored values, as the station reads them at start-up.
    void load(config::AppSettings& settings);
    // Reads the stored values again and takes each one that changed in the store since the last
    // look and differs from its flag: a change made by another program (peltra-reg, a .reg
    // import) takes effect, while one the station's own commands made, in the store and the
    // flag alike, is no change. Called by one thread at a time (the controller's).
    FlagChanges follow(config::AppSettings& settings);

    bool paused() const override { return m_paused.load(); }
    bool waitingForCompletion() const override { return m_waitForCompletion.load(); }
    bool localPhone() const { return m_localPhone.load(); }
    bool localPhoneUpdate() const { return m_localPhoneUpdate.load(); }
    bool linkTaskPortManual() const { return m_linkManual.load(); }
    std::string localPhoneString() const;

    void setPaused(bool on) { m_paused = on; }
    void setWaitForCompletion(bool on) { m_waitForCompletion = on; }
    void setLocalPhone(bool on, const std::string& number, bool update);
    void setLinkTaskPortManual(bool on) { m_linkManual = on; }

private:
    // The stored values as follow() or load() last read them.
    struct Stored {
        bool paused = false;
        bool localPhone = false;
        std::string localPhoneString;
        bool localPhoneUpdate = false;
        bool linkManual = false;
    };
    // A value the store cannot give (busy, unreadable) reads as it was last seen, so a passing
    // fault never looks like an operator's change (a paused station is not resumed by it).
    static Stored read(config::AppSettings& settings, const Stored& lastSeen);

    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_waitForCompletion{false};
    std::atomic<bool> m_localPhone{false};
    std::atomic<bool> m_localPhoneUpdate{false};
    std::atomic<bool> m_linkManual{false};
    mutable std::mutex m_numberMutex;
    std::string m_localPhoneString;
    Stored m_seen;
};

}  // namespace peltra::engine
