// Test helper: drives a port the way the line device does (hook, pulses, tones, carrier watching).
#include "sim/LineDriver.h"

#include "line/DialString.h"
#include "line/TonePcm.h"
#include "platform/sync/Event.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>

namespace peltra::test {

double msSince(LineDriver::Clock::time_point from, LineDriver::Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool LineDriver::offHook()
{
    return m_port.setDtr(false) && m_port.setRts(true);
}

bool LineDriver::onHook()
{
    return m_port.setDtr(true) && m_port.setRts(false);
}

bool LineDriver::dialPulses(std::string_view digits, std::uint32_t gapMs, PulseTiming& timing)
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

bool LineDriver::write(std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
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

bool LineDriver::dialTones(std::string_view dialString, std::uint32_t pauseMs)
{
    line::DialSettings settings;
    settings.pulseMode = false;
    settings.delayPMs = pauseMs;
    settings.delayWMs = pauseMs;
    const auto stream = line::buildToneStream(dialString, settings);
    return stream && write(*stream);
}

std::optional<double> LineDriver::waitCarrier(bool on, std::uint32_t timeoutMs)
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

std::vector<CarrierChange> LineDriver::watchCarrier(Clock::time_point from, std::uint32_t forMs, bool initial)
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

std::unique_ptr<sim::SimLine> openLine(sim::Simulator& simulator, const std::string& name)
{
    int error = -1;
    auto line = simulator.openLine(name, error);
    EXPECT_TRUE(line) << name << " errno " << error;
    return line;
}

sim::CallRecord hangUpAndLog(sim::Simulator& simulator, LineDriver& driver)
{
    const std::size_t before = simulator.calls().size();
    EXPECT_TRUE(driver.onHook());
    EXPECT_TRUE(simulator.waitForCalls(before + 1, 3000));
    const auto calls = simulator.calls();
    return calls.empty() ? sim::CallRecord{} : calls.back();
}

sim::CallRecord callAndHangUp(sim::Simulator& simulator, LineDriver& driver, std::string_view number,
                              std::uint32_t holdMs)
{
    EXPECT_TRUE(driver.offHook());
    if (!number.empty()) {
        EXPECT_TRUE(driver.dialTones(number));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    return hangUpAndLog(simulator, driver);
}

std::vector<std::int16_t> sine(double hz, double amplitude, std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * n / 8000.0)));
    return samples;
}

std::vector<std::uint8_t> bytesOf(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return bytes;
}

sim::PartyBehaviour party(sim::LineCondition condition, std::optional<std::uint32_t> answerMs,
                          std::optional<std::uint32_t> hangUpMs, bool pulse, std::uint32_t pulseMs,
                          std::vector<sim::Flicker> flickers)
{
    sim::PartyBehaviour p;
    p.condition = condition;
    p.answerAfterMs = answerMs;
    p.hangUpAfterMs = hangUpMs;
    p.pulseReversal = pulse;
    p.pulseReversalMs = pulseMs;
    p.flickers = std::move(flickers);
    return p;
}

}  // namespace peltra::test
