// One SIP call attempt shared by its session thread and the trunk's event loop.
#include "sip/SipCall.h"

namespace peltra::sip {

std::string SipCall::lastStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_lastStatus;
}

CallEnd SipCall::end() const
{
    std::lock_guard lock(m_mutex);
    return m_end;
}

std::uint16_t SipCall::finalStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_finalStatus;
}

std::string SipCall::endReason() const
{
    std::lock_guard lock(m_mutex);
    return m_endReason;
}

void SipCall::noteProgress(const std::string& status)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastStatus = status;
    }
    progressed.set();
}

void SipCall::noteAnswer(const Negotiated& peer)
{
    negotiated = peer;
    intake.expect(peer);
    {
        std::lock_guard lock(m_mutex);
        m_lastStatus = "200 OK";
    }
    answered.set();
}

void SipCall::noteEnd(CallEnd end, std::uint16_t status, const std::string& reason)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_end != CallEnd::None)
            return;
        m_end = end;
        m_finalStatus = status;
        m_endReason = reason;
    }
    ended.set();
}

}  // namespace peltra::sip
