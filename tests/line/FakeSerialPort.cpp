// A serial port under the test's hand.
#include "FakeSerialPort.h"

#include <algorithm>
#include <cerrno>

namespace peltra::test {

bool FakeSerialPort::setDtr(bool raised)
{
    std::lock_guard lock(m_mutex);
    if (m_modemError != 0) {
        errno = m_modemError;
        return false;
    }
    m_dtr = raised;
    return true;
}

bool FakeSerialPort::setRts(bool raised)
{
    std::lock_guard lock(m_mutex);
    if (m_modemError != 0) {
        errno = m_modemError;
        return false;
    }
    m_rts = raised;
    return true;
}

bool FakeSerialPort::readCarrier(bool& on)
{
    std::lock_guard lock(m_mutex);
    if (m_carrierError != 0) {
        errno = m_carrierError;
        return false;
    }
    on = m_carrier;
    return true;
}

bool FakeSerialPort::startWrite(std::span<const std::uint8_t> data)
{
    std::lock_guard lock(m_mutex);
    m_writeDone.reset();
    if (m_holdWrites)
        return true;
    m_written.insert(m_written.end(), data.begin(), data.end());
    m_outcome = {data.size(), 0};
    m_writeDone.set();
    return true;
}

platform::WriteOutcome FakeSerialPort::writeOutcome()
{
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

void FakeSerialPort::cancelWrite()
{
    std::lock_guard lock(m_mutex);
    if (!m_writeDone.isSet()) {
        m_outcome = {0, ECANCELED};
        m_writeDone.set();
    }
}

bool FakeSerialPort::purgeTransmit()
{
    std::lock_guard lock(m_mutex);
    ++m_purges;
    return true;
}

void FakeSerialPort::setCarrier(bool on)
{
    {
        std::lock_guard lock(m_mutex);
        m_carrier = on;
    }
    m_carrierChanged.set();
}

void FakeSerialPort::failModemControl(int error)
{
    std::lock_guard lock(m_mutex);
    m_modemError = error;
}

void FakeSerialPort::failCarrierRead(int error)
{
    {
        std::lock_guard lock(m_mutex);
        m_carrierError = error;
    }
    m_carrierChanged.set();
}

void FakeSerialPort::holdWrites(bool hold)
{
    std::lock_guard lock(m_mutex);
    m_holdWrites = hold;
}

bool FakeSerialPort::dtr() const
{
    std::lock_guard lock(m_mutex);
    return m_dtr;
}

bool FakeSerialPort::rts() const
{
    std::lock_guard lock(m_mutex);
    return m_rts;
}

bool FakeSerialPort::offHook() const
{
    std::lock_guard lock(m_mutex);
    return !m_dtr && m_rts;
}

std::vector<std::uint8_t> FakeSerialPort::written() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

int FakeSerialPort::purges() const
{
    std::lock_guard lock(m_mutex);
    return m_purges;
}

std::unique_ptr<platform::SerialPort> FakePortOpener::open(const std::string& name, int& error)
{
    ++m_opens;
    if (auto it = m_errors.find(name); it != m_errors.end()) {
        error = it->second;
        return nullptr;
    }
    if (std::find(m_names.begin(), m_names.end(), name) == m_names.end()) {
        error = ENOENT;
        return nullptr;
    }
    auto port = std::make_unique<FakeSerialPort>(name);
    if (auto it = m_carrier.find(name); it != m_carrier.end())
        port->setCarrier(it->second);
    m_open[name] = port.get();
    return port;
}

FakeSerialPort* FakePortOpener::port(const std::string& name) const
{
    auto it = m_open.find(name);
    return it == m_open.end() ? nullptr : it->second;
}

}  // namespace peltra::test
