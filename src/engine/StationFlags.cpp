// The station-wide flags.
#include "engine/StationFlags.h"

namespace peltra::engine {

void StationFlags::load(config::AppSettings& settings)
{
    m_paused = settings.frozen();
    m_linkManual = settings.linkTaskPortManual();
    setLocalPhone(settings.localPhone(), settings.localPhoneString(), settings.localPhoneUpdate());
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
