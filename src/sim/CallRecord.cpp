// The simulator's log entry for one finished call: what the exchange saw from off-hook to on-hook.
#include "sim/CallRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace peltra::sim {
namespace {

std::optional<Spread> spreadOf(const std::vector<double>& values)
{
    if (values.empty())
        return std::nullopt;
    Spread spread{values.front(), 0, values.front()};
    double sum = 0;
    for (const double v : values) {
        spread.min = std::min(spread.min, v);
        spread.max = std::max(spread.max, v);
        sum += v;
    }
    spread.mean = sum / static_cast<double>(values.size());
    return spread;
}

std::string formatSpread(const std::optional<Spread>& spread)
{
    if (!spread)
        return "none";
    char text[96];
    std::snprintf(text, sizeof text, "%.1f/%.1f/%.1f", spread->min, spread->mean, spread->max);
    return text;
}

std::string wholeMs(double ms)
{
    return std::to_string(std::llround(ms)) + " ms";
}

}  // namespace

std::optional<Spread> CallRecord::breakSpread() const
{
    return spreadOf(breakMs);
}

std::optional<Spread> CallRecord::makeSpread() const
{
    return spreadOf(makeMs);
}

std::optional<double> CallRecord::worstDeviationMs() const
{
    if (breakMs.empty())
        return std::nullopt;
    double worst = 0;
    for (const double b : breakMs)
        worst = std::max(worst, std::abs(b - kNominalBreakMs));
    for (const double m : makeMs)
        worst = std::max(worst, std::abs(m - kNominalMakeMs));
    return worst;
}

std::string CallRecord::describe() const
{
    std::string text = "dialed " + (dialed.empty() ? std::string("none") : dialed) + "\n";
    text += "port " + port + "\n";
    if (!breakMs.empty()) {
        char worst[32];
        std::snprintf(worst, sizeof worst, "%.1f", *worstDeviationMs());
        text += "pulses " + std::to_string(pulses()) + " break " + formatSpread(breakSpread()) + " make " +
                formatSpread(makeSpread()) + " worst " + worst + "\n";
    }
    if (completeMs)
        text += "complete " + wholeMs(*completeMs) + "\n";
    text += answerMs ? "answer " + wholeMs(*answerMs) + "\n" : std::string("no answer\n");
    if (partyHangupMs)
        text += "party hangup " + wholeMs(*partyHangupMs) + "\n";
    if (callerHangupMs)
        text += "caller hangup " + wholeMs(*callerHangupMs) + "\n";
    if (unplugged)
        text += "unplugged\n";
    text += "heard " + std::to_string(bytesHeard) + " bytes\n";
    text += "party heard " + std::to_string(partyHeardBytes) + " bytes\n";
    text += "underruns " + std::to_string(underruns) + "\n";
    if (!recordingError.empty())
        text += "recording failed " + recordingError + "\n";
    else if (!recording.empty())
        text += "recording " + recording.string() + "\n";
    return text;
}

}  // namespace peltra::sim
