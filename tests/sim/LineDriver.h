// Test helper: drives a port the way the line device does (hook, pulses, tones, carrier watching).
#pragma once

#include "platform/serial/SerialPort.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace peltra::test {

// The range (ms) a measured length must fall in: the hook calls that bound it took some time
// themselves, so the port's own timestamp can lie anywhere within them.
struct Bracket {
    double minMs = 0;
    double maxMs = 0;
};

// What a pulse dialer really sent: one bracket per break and per make between two breaks of a
// digit, in order.
struct PulseTiming {
    std::vector<Bracket> breaks;
    std::vector<Bracket> makes;
};

struct CarrierChange {
    double atMs;  // from the watch's reference instant
    bool on;
};

class LineDriver {
public:
    using Clock = std::chrono::steady_clock;

    explicit LineDriver(platform::SerialPort& port) : m_port(port) {}

    // The line device's order: clear DTR then set RTS; set DTR then clear RTS.
    bool offHook();
    bool onHook();

    // Pulse-dials the digits, scheduled on absolute deadlines as the pulse timer chains them: a
    // 38 ms make, then per break 62 ms on-hook and 38 ms off-hook, then gapMs more before the
    // next digit. Appends the brackets of what was sent to `timing`.
    bool dialPulses(std::string_view digits, std::uint32_t gapMs, PulseTiming& timing);

    // Writes the bytes and waits for the write to complete; false when it fails or takes longer
    // than timeoutMs.
    bool write(std::span<const std::uint8_t> data, std::uint32_t timeoutMs = 10000);
    // Writes what tone dialing sends for the dial string (pause P and W of pauseMs).
    bool dialTones(std::string_view dialString, std::uint32_t pauseMs = 1000);

    // Reads carrier detect until it shows `on`; the ms it took, or nothing after timeoutMs.
    std::optional<double> waitCarrier(bool on, std::uint32_t timeoutMs);
    // Every change of carrier detect from `initial` seen until forMs after `from`, timed from
    // `from`.
    std::vector<CarrierChange> watchCarrier(Clock::time_point from, std::uint32_t forMs, bool initial);

private:
    platform::SerialPort& m_port;
};

double msSince(LineDriver::Clock::time_point from, LineDriver::Clock::time_point to);

// Opens a port of the simulator; a failure is a test failure.
std::unique_ptr<sim::SimLine> openLine(sim::Simulator& simulator, const std::string& name = "SIM1");

// Hangs up and returns the call that ends (the simulator's last call).
sim::CallRecord hangUpAndLog(sim::Simulator& simulator, LineDriver& driver);

// Seizes the line and dials the number by tone; the call that ends when it hangs up after holdMs.
sim::CallRecord callAndHangUp(sim::Simulator& simulator, LineDriver& driver, std::string_view number,
                              std::uint32_t holdMs);

// A sine of 8 kHz samples, and samples as the little-endian bytes the modulator takes.
std::vector<std::int16_t> sine(double hz, double amplitude, std::size_t count);
std::vector<std::uint8_t> bytesOf(const std::vector<std::int16_t>& samples);

sim::PartyBehaviour party(sim::LineCondition condition, std::optional<std::uint32_t> answerMs,
                          std::optional<std::uint32_t> hangUpMs = std::nullopt, bool pulse = false,
                          std::uint32_t pulseMs = 300, std::vector<sim::Flicker> flickers = {});

}  // namespace peltra::test
