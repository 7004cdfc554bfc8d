// The station-wide flags.
#include "engine/StationFlags.h"

namespace peltra::engine {

StationFlags::Stored StationFlags::read(config::AppSettings& settings, const Stored& lastSeen)
{
    Stored stored;
    stored.paused = settings.frozen(lastSeen.paused);
    stored.localPhone = settings.localPhone(lastSeen.localPhone);
    stored.localPhoneString = settings.localPhoneString(lastSeen.localPhoneString);
    stored.localPhoneUpdate = settings.localPhoneUpdate(lastSeen.localPhoneUpdate);
    stored.linkManual = settings.linkTaskPortManual(lastSeen.linkManual);
    return stored;
}

void StationFlags::load(config::AppSettings& settings)
{
    m_seen = read(settings, Stored{});
    m_paused = m_seen.paused;
    m_linkManual = m_seen.linkManual;
    setLocalPhone(m_seen.localPhone, m_seen.localPhoneString, m_seen.localPhoneUpdate);
}

FlagChanges StationFlags::follow(config::AppSettings& settings)
{
    const Stored now = read(settings, m_seen);
    FlagChanges changes;
    if (now.paused != m_seen.paused && now.paused != paused()) {
        m_paused = now.paused;
        changes.paused = true;
    }
    if (now.linkManual != m_seen.linkManual && now.linkManual != linkTaskPortManual()) {
        m_linkManual = now.linkManual;
        changes.linkTaskPortManual = true;
    }
    const bool mode = now.localPhone != m_seen.localPhone && now.localPhone != localPhone();
    const bool number = now.localPhoneString != m_seen.localPhoneString && now.localPhoneString != localPhoneString();
    const bool update = now.localPhoneUpdate != m_seen.localPhoneUpdate && now.localPhoneUpdate != localPhoneUpdate();
    if (mode || number || update) {
        setLocalPhone(mode ? now.localPhone : localPhone(), number ? now.localPhoneString : localPhoneString(),
                      update ? now.localPhoneUpdate : localPhoneUpdate());
        // A number changed while the mode is off changes nothing anyone sees.
        changes.localPhone = mode || (number && localPhone());
        changes.localPhoneUpdate = update;
    }
    m_seen = now;
    return changes;
}

std::string StationFlags::localPhoneString() const
{
    std::lock_guard lock(m_numberMutex);
    return m_localPhoneString;
}

void StationFlags::setLocalPhone(bool on, const std::string& number, bool update)
{
    {
        std::lock_guard lock(m_numberMutex);
        m_localPhoneString = number;
    }
    m_localPhoneUpdate = update;
    m_localPhone = on;
}

}  // namespace peltra::engine
