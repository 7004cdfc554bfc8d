// A serial port under the test's hand: it records the modem-control outputs and what is written,
// and the test sets the carrier input and makes operations fail.
#pragma once

#include "platform/serial/SerialPort.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace peltra::test {

class FakeSerialPort : public platform::SerialPort {
public:
    explicit FakeSerialPort(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const override { return m_name; }
    bool setDtr(bool raised) override;
    bool setRts(bool raised) override;
    bool readCarrier(bool& on) override;
    platform::Event& carrierChanged() override { return m_carrierChanged; }
    bool startWrite(std::span<const std::uint8_t> data) override;
    platform::Event& writeDone() override { return m_writeDone; }
    platform::WriteOutcome writeOutcome() override;
    void cancelWrite() override;
    bool purgeTransmit() override;

    // What the test controls.
    void setCarrier(bool on);
    void failModemControl(int error);  // setDtr/setRts fail with this errno (0: succeed)
    void failCarrierRead(int error);   // readCarrier fails with this errno (0: succeed)
    void holdWrites(bool hold);        // writes stay pending until cancelled

    // What the test observes.
    bool dtr() const;
    bool rts() const;
    bool offHook() const;  // DTR dropped and RTS raised, as the adapter sees it
    std::vector<std::uint8_t> written() const;
    int purges() const;

private:
    std::string m_name;
    mutable std::mutex m_mutex;
    bool m_dtr = true;
    bool m_rts = true;
    bool m_carrier = true;
    int m_modemError = 0;
    int m_carrierError = 0;
    bool m_holdWrites = false;
    int m_purges = 0;
    std::vector<std::uint8_t> m_written;
    platform::WriteOutcome m_outcome;
    platform::Event m_carrierChanged{false, false};
    platform::Event m_writeDone{true, false};
};

// Opens FakeSerialPorts by name; the ports it opened stay reachable through port().
class FakePortOpener : public platform::PortOpener {
public:
    std::unique_ptr<platform::SerialPort> open(const std::string& name, int& error) override;
    std::vector<std::string> candidateNames() override { return m_names; }

    // Names that exist; others fail with ENOENT. failWith makes one fail with another errno.
    void addPort(const std::string& name) { m_names.push_back(name); }
    void failWith(const std::string& name, int error) { m_errors[name] = error; }
    // The carrier input a port has when it is opened (on unless said).
    void startWithCarrier(const std::string& name, bool on) { m_carrier[name] = on; }

    FakeSerialPort* port(const std::string& name) const;
    int opens() const { return m_opens; }

private:
    std::vector<std::string> m_names;
    std::map<std::string, int> m_errors;
    std::map<std::string, FakeSerialPort*> m_open;
    std::map<std::string, bool> m_carrier;
    int m_opens = 0;
};

}  // namespace peltra::test
