// A simulation plan: the simulated lines of a headless station and the parties behind the numbers.
#include "sim/SimPlan.h"

#include "sim/Simulator.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

namespace peltra::sim {
namespace {

using nlohmann::json;

bool isDialSymbol(char c)
{
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

// splitmix64's finaliser: every input bit reaches every output bit.
std::uint64_t mix64(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// A draw that depends on the seed and the number only, the same on every machine.
std::uint64_t drawFor(std::uint64_t seed, const std::string& number)
{
    std::uint64_t h = mix64(seed);
    for (const char c : number)
        h = mix64(h ^ static_cast<unsigned char>(c));
    return mix64(h ^ number.size());
}

std::string jsonQuoted(const std::string& text)
{
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

// Reads a parsed plan; the first fault found ends the reading with its message.
class PlanReader {
public:
    PlanReader(const std::string& name, std::string& error) : m_name(name), m_error(error) {}

    bool fail(const std::string& place, const std::string& problem)
    {
        m_error = m_name + ": " + (place.empty() ? "" : place + ": ") + problem;
        return false;
    }

    // A JSON whole number from min to max; floats such as 4.0 are refused.
    bool wholeNumber(const json& value, const std::string& place, std::uint64_t min, std::uint64_t max,
                     const std::string& what, std::uint64_t& out)
    {
        const std::string range = "must be " + what + " from " + std::to_string(min) + " to " + std::to_string(max);
        if (!value.is_number_integer())
            return fail(place, range);
        if (!value.is_number_unsigned())  // a negative integer
            return fail(place, range);
        out = value.get<std::uint64_t>();
        if (out < min || out > max)
            return fail(place, range);
        return true;
    }

    bool milliseconds(const json& value, const std::string& place, std::optional<std::uint32_t>& out,
                      const char* nullMeaning)
    {
        if (value.is_null()) {
            out.reset();
            return true;
        }
        if (!value.is_number_integer() || !value.is_number_unsigned() ||
            value.get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max())
            return fail(place, std::string("must be a whole number of ms from 0 to 4294967295, or null (") +
                                   nullMeaning + ")");
        out = static_cast<std::uint32_t>(value.get<std::uint64_t>());
        return true;
    }

    bool boolean(const json& value, const std::string& place, bool& out)
    {
        if (!value.is_boolean())
            return fail(place, "must be true or false");
        out = value.get<bool>();
        return true;
    }

    bool behaviour(const json& value, const std::string& place, PartyBehaviour& out)
    {
        out = PartyBehaviour{};
        if (!value.is_object())
            return fail(place, "must be an object with the keys line, answer_after_ms, hangup_after_ms, "
                               "pulse_reversal");
        for (const auto& [key, item] : value.items()) {
            const std::string at = place + "." + key;
            if (key == "line") {
                const std::string word = item.is_string() ? item.get<std::string>() : std::string();
                if (word == "ok")
                    out.condition = LineCondition::Ok;
                else if (word == "dead")
                    out.condition = LineCondition::Dead;
                else if (word == "reversed")
                    out.condition = LineCondition::Reversed;
                else
                    return fail(at, (item.is_string() ? "unknown line condition " + jsonQuoted(word) + ": "
                                                      : std::string()) +
                                        "must be \"ok\", \"dead\" or \"reversed\"");
            } else if (key == "answer_after_ms") {
                if (!milliseconds(item, at, out.answerAfterMs, "never answers"))
                    return false;
            } else if (key == "hangup_after_ms") {
                if (!milliseconds(item, at, out.hangUpAfterMs, "listens to the end"))
                    return false;
            } else if (key == "pulse_reversal") {
                if (!boolean(item, at, out.pulseReversal))
                    return false;
            } else {
                return fail(place, "unknown key " + jsonQuoted(key) +
                                       " (known: line, answer_after_ms, hangup_after_ms, pulse_reversal)");
            }
        }
        return true;
    }

    bool numbers(const json& value, SimPlan& plan)
    {
        if (!value.is_object())
            return fail("numbers", "must be an object of numbers and their behaviours");
        for (const auto& [number, item] : value.items()) {
            const std::string at = "numbers[" + jsonQuoted(number) + "]";
            if (number.empty())
                return fail(at, "a number must not be empty");
            if (!std::all_of(number.begin(), number.end(), isDialSymbol))
                return fail(at, "a number holds only digits, *, # and A-D");
            PartyBehaviour party;
            if (!behaviour(item, at, party))
                return false;
            plan.numbers.emplace(number, std::move(party));
        }
        // A listed number completes as soon as it is dialled, so a longer one starting with it
        // could never be reached.
        for (auto it = plan.numbers.begin(); it != plan.numbers.end(); ++it) {
            const auto next = std::next(it);
            if (next != plan.numbers.end() && next->first.starts_with(it->first))
                return fail("numbers[" + jsonQuoted(next->first) + "]",
                            "can never be dialled: the number completes at " + jsonQuoted(it->first) + ", listed too");
        }
        return true;
    }

    bool mix(const json& value, SimPlan& plan)
    {
        if (!value.is_array())
            return fail("mix", "must be a list of {\"weight\": N, \"behaviour\": BEHAVIOUR}");
        for (std::size_t i = 0; i < value.size(); ++i) {
            const json& item = value[i];
            const std::string at = "mix[" + std::to_string(i) + "]";
            if (!item.is_object())
                return fail(at, "must be an object {\"weight\": N, \"behaviour\": BEHAVIOUR}");
            MixEntry entry;
            for (const auto& [key, field] : item.items()) {
                if (key == "weight") {
                    std::uint64_t weight = 0;
                    if (!wholeNumber(field, at + ".weight", 1, std::numeric_limits<std::uint32_t>::max(),
                                     "a whole number", weight))
                        return false;
                    entry.weight = static_cast<std::uint32_t>(weight);
                } else if (key == "behaviour") {
                    if (!behaviour(field, at + ".behaviour", entry.behaviour))
                        return false;
                } else {
                    return fail(at, "unknown key " + jsonQuoted(key) + " (known: weight, behaviour)");
                }
            }
            plan.mix.push_back(std::move(entry));
        }
        return true;
    }

    bool plan(const json& root, SimPlan& plan)
    {
        if (!root.is_object())
            return fail("", "the plan must be a JSON object");
        for (const auto& [key, value] : root.items()) {
            std::uint64_t n = 0;
            if (key == "lines") {
                if (!wholeNumber(value, key, 1, SimPlan::kMaxLines, "a whole number", n))
                    return false;
                plan.lines = static_cast<unsigned>(n);
            } else if (key == "seed") {
                if (!wholeNumber(value, key, 0, std::numeric_limits<std::uint64_t>::max(), "a whole number", n))
                    return false;
                plan.seed = n;
            } else if (key == "realtime") {
                if (!boolean(value, key, plan.realTime))
                    return false;
            } else if (key == "digit_timeout_ms") {
                if (!wholeNumber(value, key, 1, std::numeric_limits<std::uint32_t>::max(), "a whole number of ms", n))
                    return false;
                plan.digitTimeoutMs = static_cast<std::uint32_t>(n);
            } else if (key == "default") {
                if (!behaviour(value, key, plan.defaultBehaviour))
                    return false;
            } else if (key == "numbers") {
                if (!numbers(value, plan))
                    return false;
            } else if (key == "mix") {
                if (!mix(value, plan))
                    return false;
            } else {
                return fail("", "unknown key " + jsonQuoted(key) +
                                    " (known: lines, seed, realtime, digit_timeout_ms, default, numbers, mix)");
            }
        }
        return true;
    }

private:
    const std::string& m_name;
    std::string& m_error;
};

// Parses JSON text, refusing a key given twice in one object (the parser would keep the last
// silently). False with `problem` set when the text is not such JSON.
bool parseJson(std::string_view text, json& out, std::string& problem)
{
    std::vector<std::set<std::string>> keys;  // of the objects being read, innermost last
    std::string duplicate;
    const json::parser_callback_t watch = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            keys.emplace_back();
            break;
        case json::parse_event_t::object_end:
            if (!keys.empty())
                keys.pop_back();
            break;
        case json::parse_event_t::key:
            if (!keys.empty() && !keys.back().insert(parsed.get<std::string>()).second && duplicate.empty())
                duplicate = parsed.get<std::string>();
            break;
        default:
            break;
        }
        return true;
    };
    try {
        out = json::parse(text.begin(), text.end(), watch);
    } catch (const json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." → from "parse error".
        std::string what = e.what();
        const std::size_t bracket = what.find("] ");
        problem = "not valid JSON: " + (bracket == std::string::npos ? what : what.substr(bracket + 2));
        return false;
    }
    if (!duplicate.empty()) {
        problem = "the key " + jsonQuoted(duplicate) + " is given twice in one object";
        return false;
    }
    return true;
}

}  // namespace

BehaviourChoice SimPlan::behaviourFor(const std::string& number) const
{
    if (const auto it = numbers.find(number); it != numbers.end())
        return {it->second, BehaviourSource::Number, 0};
    std::uint64_t total = 0;
    for (const MixEntry& entry : mix)
        total += entry.weight;
    if (total == 0)
        return {defaultBehaviour, BehaviourSource::Default, 0};
    // The bias of the remainder is below total / 2^64: nothing a plan's weights could show.
    std::uint64_t pick = drawFor(seed, number) % total;
    for (std::size_t i = 0; i < mix.size(); ++i) {
        if (pick < mix[i].weight)
            return {mix[i].behaviour, BehaviourSource::Mix, i};
        pick -= mix[i].weight;
    }
    return {defaultBehaviour, BehaviourSource::Default, 0};  // not reached: pick < total
}

SimOptions SimPlan::options() const
{
    SimOptions options;
    options.realTime = realTime;
    options.digitTimeoutMs = digitTimeoutMs;
    return options;
}

std::optional<SimPlan> parseSimPlan(std::string_view text, const std::string& name, std::string& error)
{
    json root;
    std::string problem;
    if (!parseJson(text, root, problem)) {
        error = name + ": " + problem;
        return std::nullopt;
    }
    SimPlan plan;
    PlanReader reader(name, error);
    if (!reader.plan(root, plan))
        return std::nullopt;
    error.clear();
    return plan;
}

std::optional<SimPlan> loadSimPlan(const std::filesystem::path& path, std::string& error)
{
    const std::string name = path.string();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = name + ": is a folder, not a plan file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = name + ": cannot open: " + std::generic_category().message(errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = name + ": cannot read the file";
        return std::nullopt;
    }
    return parseSimPlan(text.str(), name, error);
}

std::string describeBehaviour(const PartyBehaviour& behaviour)
{
    // nlohmann's object keeps its keys sorted; the plan's order reads better.
    nlohmann::ordered_json object;
    object["line"] = lineConditionName(behaviour.condition);
    object["answer_after_ms"] =
        behaviour.answerAfterMs ? nlohmann::ordered_json(*behaviour.answerAfterMs) : nlohmann::ordered_json(nullptr);
    object["hangup_after_ms"] =
        behaviour.hangUpAfterMs ? nlohmann::ordered_json(*behaviour.hangUpAfterMs) : nlohmann::ordered_json(nullptr);
    object["pulse_reversal"] = behaviour.pulseReversal;
    return object.dump();
}

std::optional<PartyBehaviour> parseBehaviour(std::string_view text, const std::string& place, std::string& error)
{
    json value;
    std::string problem;
    if (!parseJson(text, value, problem)) {
        error = place + ": " + problem;
        return std::nullopt;
    }
    PartyBehaviour behaviour;
    PlanReader reader(place, error);
    if (!reader.behaviour(value, "behaviour", behaviour))
        return std::nullopt;
    return behaviour;
}

const char* lineConditionName(LineCondition condition)
{
    switch (condition) {
    case LineCondition::Ok:
        return "ok";
    case LineCondition::Dead:
        return "dead";
    case LineCondition::Reversed:
        return "reversed";
    }
    return "ok";
}

void applyPlan(Simulator& simulator, const SimPlan& plan)
{
    simulator.clearBehaviours();
    for (const auto& [number, behaviour] : plan.numbers)
        simulator.setBehaviour(number, behaviour);
    simulator.setDefaultBehaviour(plan.defaultBehaviour);
    if (plan.mix.empty()) {
        simulator.setBehaviourChooser(nullptr);
        return;
    }
    auto shared = std::make_shared<const SimPlan>(plan);
    simulator.setBehaviourChooser([shared](const std::string& dialed) { return shared->behaviourFor(dialed).behaviour; });
}

}  // namespace peltra::sim
