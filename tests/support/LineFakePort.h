// A serial port under the test's hand, and an opener of such ports by name: the port records the
// modem-control outputs and what is written, and the test sets the carrier and makes calls fail.
#pragma once

#include "platform/serial/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace peltra::test {

class FakeSerialPort : public platform::SerialPort {
public:
    explicit FakeSerialPort(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const override { return m_name; }
    bool setDtr(bool raised) override { return setOutput(m_dtr, raised); }
    bool setRts(bool raised) override { return setOutput(m_rts, raised); }
    bool readCarrier(bool& on) override
    {
        std::lock_guard lock(m_mutex);
        if (m_carrierError != 0)
            return (errno = m_carrierError, false);
        on = m_carrier;
        return true;
    }
    platform::Event& carrierChanged() override { return m_carrierChanged; }
    // Every write completes at once.
    bool startWrite(std::span<const std::uint8_t> data) override
    {
        std::lock_guard lock(m_mutex);
        m_written.insert(m_written.end(), data.begin(), data.end());
        m_outcome = {data.size(), 0};
        return true;
    }
    platform::Event& writeDone() override { return m_writeDone; }
    platform::WriteOutcome writeOutcome() override { return get(m_outcome); }
    void cancelWrite() override {}
    bool purgeTransmit() override { return put(m_purges, m_purges + 1), true; }

    // What the test controls; an error of 0 lets the operation succeed again.
    void setCarrier(bool on) { put(m_carrier, on), m_carrierChanged.set(); }
    void failModemControl(int error) { put(m_modemError, error); }
    void failCarrierRead(int error) { put(m_carrierError, error), m_carrierChanged.set(); }

    // What the test observes.
    bool dtr() const { return get(m_dtr); }
    bool rts() const { return get(m_rts); }
    bool offHook() const { return !dtr() && rts(); }  // DTR dropped and RTS raised, as the adapter sees it
    std::vector<std::uint8_t> written() const { return get(m_written); }
    int purges() const { return get(m_purges); }

private:
    template <typename T> T get(const T& field) const
    {
        std::lock_guard lock(m_mutex);
        return field;
    }
    template <typename T> void put(T& field, T value)
    {
        std::lock_guard lock(m_mutex);
        field = std::move(value);
    }
    bool setOutput(bool& output, bool raised)
    {
        std::lock_guard lock(m_mutex);
        if (m_modemError != 0)
            return (errno = m_modemError, false);
        output = raised;
        return true;
    }

    std::string m_name;
    mutable std::mutex m_mutex;
    bool m_dtr = true, m_rts = true, m_carrier = true;
    int m_modemError = 0, m_carrierError = 0, m_purges = 0;
    std::vector<std::uint8_t> m_written;
    platform::WriteOutcome m_outcome;
    platform::Event m_carrierChanged{false, false};
    platform::Event m_writeDone{true, true};
};

// Opens FakeSerialPorts by name and remembers every name asked for; the ports it opened stay
// reachable through port(). Names not added fail with ENOENT, failWith gives a name another errno.
class FakePortOpener : public platform::PortOpener {
public:
    std::unique_ptr<platform::SerialPort> open(const std::string& name, int& error) override
    {
        asked.push_back(name);
        error = m_errors.count(name) ? m_errors[name]
                : std::find(m_names.begin(), m_names.end(), name) == m_names.end() ? ENOENT : 0;
        if (error != 0)
            return nullptr;
        auto port = std::make_unique<FakeSerialPort>(name);
        m_open[name] = port.get();
        return port;
    }
    std::vector<std::string> candidateNames() override { return m_names; }

    void addPort(const std::string& name) { m_names.push_back(name); }
    void failWith(const std::string& name, int error) { m_errors[name] = error; }
    FakeSerialPort* port(const std::string& name) const { return m_open.count(name) ? m_open.at(name) : nullptr; }

    std::vector<std::string> asked;

private:
    std::vector<std::string> m_names;
    std::map<std::string, int> m_errors;
    std::map<std::string, FakeSerialPort*> m_open;
};

}  // namespace peltra::test
