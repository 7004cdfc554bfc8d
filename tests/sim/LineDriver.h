// Test helper: drives a port the way the line device does (hook, pulses, tones, carrier watching).
#pragma once

#include "line/DialString.h"
#include "line/TonePcm.h"
#include "platform/serial/SerialPort.h"
#include "platform/sync/Event.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace peltra::test {

// The range (ms) a measured length must fall in: the port's timestamp lies within the hook calls.
struct Bracket {
    double minMs = 0;
    double maxMs = 0;
};

// What a pulse dialer really sent: one bracket per break and per make within a digit, in order.
struct PulseTiming {
    std::vector<Bracket> breaks;
    std::vector<Bracket> makes;
};

struct CarrierChange {
    double atMs;  // from the watch's reference instant
    bool on;
};

inline double msSince(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class LineDriver {
public:
    using Clock = std::chrono::steady_clock;

    explicit LineDriver(platform::SerialPort& port) : m_port(port) {}

    // The line device's order: clear DTR then set RTS; set DTR then clear RTS.
    bool offHook() { return m_port.setDtr(false) && m_port.setRts(true); }
    bool onHook() { return m_port.setDtr(true) && m_port.setRts(false); }

    // Pulse-dials on absolute deadlines as the pulse timer does: 38 ms make, per break 62 ms on-hook and
    // 38 ms off-hook, then gapMs; appends the brackets of what was sent to `timing`.
    bool dialPulses(std::string_view digits, std::uint32_t gapMs, PulseTiming& timing)
    {
        using std::chrono::milliseconds;
        auto deadline = Clock::now();
        for (const char digit : digits) {
            const int breaks = digit == '0' ? 10 : digit - '0';
            deadline += milliseconds(38);
            std::this_thread::sleep_until(deadline);
            Clock::time_point makeFrom{};
            Clock::time_point makeTo{};
            for (int i = 0; i < breaks; ++i) {
                const auto openFrom = Clock::now();
                if (!onHook())
                    return false;
                const auto openTo = Clock::now();
                if (i > 0)
                    timing.makes.push_back({msSince(makeTo, openFrom), msSince(makeFrom, openTo)});
                deadline += milliseconds(62);
                std::this_thread::sleep_until(deadline);
                makeFrom = Clock::now();
                if (!offHook())
                    return false;
                makeTo = Clock::now();
                timing.breaks.push_back({msSince(openTo, makeFrom), msSince(openFrom, makeTo)});
                deadline += milliseconds(38);
                std::this_thread::sleep_until(deadline);
            }
            deadline += milliseconds(gapMs);
            std::this_thread::sleep_until(deadline);
        }
        return true;
    }

    // Writes the bytes and waits for completion; false when it fails or takes longer than timeoutMs.
    bool write(std::span<const std::uint8_t> data, std::uint32_t timeoutMs = 10000)
    {
        if (!m_port.startWrite(data))
            return false;
        if (!m_port.writeDone().wait(timeoutMs)) {
            m_port.cancelWrite();
            return false;
        }
        const platform::WriteOutcome outcome = m_port.writeOutcome();
        return outcome.error == 0 && outcome.written == data.size();
    }

    // Writes what tone dialing sends for the dial string (pause P and W of pauseMs).
    bool dialTones(std::string_view dialString, std::uint32_t pauseMs = 1000)
    {
        line::DialSettings settings;
        settings.pulseMode = false;
        settings.delayPMs = pauseMs;
        settings.delayWMs = pauseMs;
        const auto stream = line::buildToneStream(dialString, settings);
        return stream && write(*stream);
    }

    // Reads carrier detect until it shows `on`; the ms it took, or nothing after timeoutMs.
    std::optional<double> waitCarrier(bool on, std::uint32_t timeoutMs)
    {
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            bool carrier = false;
            if (!m_port.readCarrier(carrier))
                return std::nullopt;
            const auto now = Clock::now();
            if (carrier == on)
                return msSince(start, now);
            if (now >= deadline)
                return std::nullopt;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            platform::waitAny({&m_port.carrierChanged()}, static_cast<std::uint32_t>(left));
        }
    }

    // Every change of carrier detect from `initial` seen until forMs after `from`, timed from `from`.
    std::vector<CarrierChange> watchCarrier(Clock::time_point from, std::uint32_t forMs, bool initial)
    {
        std::vector<CarrierChange> changes;
        bool last = initial;
        const auto deadline = from + std::chrono::milliseconds(forMs);
        for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
            bool carrier = false;
            if (!m_port.readCarrier(carrier))
                break;
            if (carrier != last)
                changes.push_back({msSince(from, Clock::now()), carrier});
            last = carrier;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left > 0)
                platform::waitAny({&m_port.carrierChanged()}, static_cast<std::uint32_t>(left));
        }
        return changes;
    }

private:
    platform::SerialPort& m_port;
};

// Opens a port of the simulator; a failure throws, which fails the test.
inline std::unique_ptr<sim::SimLine> openLine(sim::Simulator& simulator, const std::string& name = "SIM1")
{
    int error = -1;
    auto line = simulator.openLine(name, error);
    // Thrown rather than returned empty: the test fails cleanly instead of crashing on a null line.
    if (!line)
        throw std::runtime_error("cannot open " + name + ": errno " + std::to_string(error));
    return line;
}

// Hangs up and returns the call that ends (the simulator's last call).
inline sim::CallRecord hangUpAndLog(sim::Simulator& simulator, LineDriver& driver)
{
    const std::size_t before = simulator.calls().size();
    EXPECT_TRUE(driver.onHook());
    EXPECT_TRUE(simulator.waitForCalls(before + 1, 3000));
    const auto calls = simulator.calls();
    return calls.empty() ? sim::CallRecord{} : calls.back();
}

// A sine of 8 kHz samples, and samples as the little-endian bytes the modulator takes.
inline std::vector<std::int16_t> sine(double hz, double amplitude, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * n / 8000.0)));
    return samples;
}

inline std::vector<std::uint8_t> bytesOf(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return bytes;
}

inline sim::PartyBehaviour party(sim::LineCondition condition, std::optional<std::uint32_t> answerMs,
                                 std::optional<std::uint32_t> hangUpMs = std::nullopt, bool pulse = false,
                                 std::uint32_t pulseMs = 300, std::vector<sim::Flicker> flickers = {})
{
    return {condition, answerMs, hangUpMs, pulse, pulseMs, std::move(flickers)};
}

}  // namespace peltra::test
