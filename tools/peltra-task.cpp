// peltra-task: the operator's tool for task definitions: bindings, tasks, their ranges,
// conditions, schedules and templates, the task test and inclusion in scheduling.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "data/OdbcError.h"
#include "data/TableChecks.h"
#include "editors/TaskTest.h"
#include "platform/registry/RegistryStore.h"
#include "platform/text/CaseFold.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace peltra;
using tools::kExitFailure;
using tools::kExitOk;
using tools::kExitUsage;
using Args = std::vector<std::string>;

namespace fs = std::filesystem;

constexpr char kUsage[] =
    R"(usage: peltra-task [--home DIR] COMMAND [ARGUMENTS]

Inspects, edits and tests the station's task definitions in DIR/registry.db; DIR is
--home, else $PELTRA_HOME, else ~/.local/share/peltra. Every change goes through the
same rules as the task manager: a change of a key property withdraws the task from
scheduling (a note says so), and only a task that passes its test can be included.

Bindings and tasks:
  list                                   BINDING<TAB>TASK<TAB>valid|excluded per task
  add-binding NAME FILE [COMMENT]        FILE must be a table with the columns TELEF,
                                         PROBA, OTBOJ, DATA and CLOCK
  set-file BINDING FILE                  another table: every task is withdrawn
  codepage BINDING [866|1251|auto]       the code page of the binding's table when its
                                         header carries no code-page mark (auto: judged
                                         from its text); without a value, the setting
                                         and the code page the table is read in
  add BINDING TASK                       a new task, withdrawn from scheduling
  remove BINDING [TASK]                  a task, or the binding with all its tasks
  show BINDING TASK                      properties, ranges, condition, schedules,
                                         ports and template items
Properties:
  set BINDING TASK PROPERTY VALUE        Phonelast, Behaviour, Typefilter, Repeat,
                                         RepeatType, RepeatDay, RepeatMinute,
                                         RepeatTimes, RepeatField, Arhive, ArhiveFile,
                                         RetryMinute (minutes between failed attempts
                                         at a row, 0: none), MaxAttempts (attempts
                                         per row, 0: no limit); numbers in decimal
  sort BINDING TASK FIELD TYPE asc|desc  TYPE is the field's type letter (N, C, D, ...)
Ranges (used when Typefilter is 1):
  range-field BINDING TASK FIELD TYPE
  add-range BINDING TASK MIN MAX         bounds 0..4294967295; prints the range's name
  set-range BINDING TASK NAME MIN MAX
  remove-range BINDING TASK NAME
Condition (used when Typefilter is 2):
  add-condition BINDING TASK PRODUCT FIELD OP VALUE
  add-condition BINDING TASK PRODUCT --expression TEXT
                                         PRODUCT is a product's name or number, or
                                         "new"; OP is Like NotLike = <> < > <= >=;
                                         VALUE is SQL text (quote literals yourself);
                                         prints the product's and condition's names
  remove-condition BINDING TASK PRODUCT [CONDITION]
  filter BINDING TASK [--quote]          the filter's SQL text
Schedules:
  add-schedule BINDING TASK daily HH:MM-HH:MM [OPTIONS]
  add-schedule BINDING TASK weekly DAY=HH:MM-HH:MM ... [OPTIONS]
  add-schedule BINDING TASK workweek [work=HH:MM-HH:MM] [weekend=HH:MM-HH:MM] [OPTIONS]
                                         DAY is mon tue wed thu fri sat sun or
                                         пн вт ср чт пт сб вс; 24:00 ends a day.
                                         OPTIONS: --days 1,2,15 (only on these days
                                         of the month), --night (night calls allowed);
                                         prints the schedule's name
  remove-schedule BINDING TASK NAME
  allowed BINDING TASK [--at "YYYY-MM-DD HH:MM:SS"]
                                         yes or no: may the task call at that local
                                         time (default now)
Template:
  add-template BINDING TASK [--after KEY | --first] PATH [ARG]
                                         PATH is a catalogue leaf, ARG the column a
                                         function or dictionary speaks; by default the
                                         item goes last; prints the item's name
Scheduling:
  test BINDING TASK                      the test report; exit 0 when it found no
                                         critical error
  include BINDING TASK                   test, and include the task when it passed
  exclude BINDING TASK

Names of ranges, schedules, products and conditions may be given as their number ("2"
for "0002").

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-task", kUsage);

int fail(const std::string& message) { return output.fail(message); }
int usageError(const std::string& message) { return output.usageError(message); }

// A remark that does not make the command fail.
void note(const std::string& text) { std::fprintf(stderr, "peltra-task: %s\n", text.c_str()); }

// Texts of the model and the checks break lines with CR LF; a terminal wants LF.
std::string terminalText(std::string text)
{
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// A decimal number 0..4294967295: digits only, no sign, no blanks.
std::optional<std::uint32_t> parseDecimal(const std::string& text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// The options of one command, taken off its arguments: "--name VALUE", "--name=VALUE" and
// flags; "--" ends the options, so that a value may itself begin with "--".
class Options {
public:
    Options(Args args, std::vector<std::string> withValue, std::vector<std::string> flags)
    {
        bool ended = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (ended || !arg.starts_with("--")) {
                m_positional.push_back(arg);
                continue;
            }
            if (arg == "--") {
                ended = true;
                continue;
            }
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (std::find(flags.begin(), flags.end(), name) != flags.end() && equals == std::string::npos) {
                m_flags.push_back(name);
            } else if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
                if (equals != std::string::npos) {
                    m_values.emplace_back(name, arg.substr(equals + 1));
                } else if (i + 1 < args.size()) {
                    m_values.emplace_back(name, args[++i]);
                } else {
                    m_error = name + " needs a value";
                    return;
                }
            } else {
                m_error = "unknown option " + arg;
                return;
            }
        }
    }

    // The reason the options cannot be read; empty when they can.
    const std::string& error() const { return m_error; }
    const Args& positional() const { return m_positional; }
    bool flag(const std::string& name) const
    {
        return std::find(m_flags.begin(), m_flags.end(), name) != m_flags.end();
    }
    // The last value given for the option.
    std::optional<std::string> value(const std::string& name) const
    {
        std::optional<std::string> found;
        for (const auto& [option, text] : m_values)
            if (option == name)
                found = text;
        return found;
    }

private:
    Args m_positional;
    std::vector<std::string> m_flags;
    std::vector<std::pair<std::string, std::string>> m_values;
    std::string m_error;
};

// The item of a numbered list ("0001", "0002", ...) an argument names: the name itself
// (without regard to case), else the item whose number the argument gives in decimal.
std::optional<std::string> findNumbered(const std::vector<std::string>& names, const std::string& argument)
{
    for (const std::string& name : names)
        if (platform::equalsIgnoreCase(name, argument))
            return name;
    if (!parseDecimal(argument))
        return std::nullopt;
    const std::uint64_t number = config::subKeyNumber(argument);
    for (const std::string& name : names)
        if (config::subKeyNumber(name) == number)
            return name;
    return std::nullopt;
}

// ---- Schedules as typed -------------------------------------------------------------------

// "HH:MM" as seconds of the day; 24:00 only where endOfDay allows it.
std::optional<std::uint32_t> parseClock(const std::string& text, bool endOfDay, std::string& error)
{
    const std::size_t colon = text.find(':');
    const auto hour = colon == std::string::npos ? std::nullopt : parseDecimal(text.substr(0, colon));
    const std::string minuteText = colon == std::string::npos ? "" : text.substr(colon + 1);
    const auto minute = minuteText.size() == 2 ? parseDecimal(minuteText) : std::nullopt;
    if (!hour || !minute || colon > 2) {
        error = inQuotes(text) + " is not a time HH:MM";
        return std::nullopt;
    }
    if (*minute > 59) {
        error = inQuotes(text) + ": minutes run from 00 to 59";
        return std::nullopt;
    }
    if (*hour > 24 || (*hour == 24 && *minute != 0)) {
        error = inQuotes(text) + ": times run from 00:00 to 24:00";
        return std::nullopt;
    }
    if (*hour == 24 && !endOfDay) {
        error = inQuotes(text) + ": 24:00 can only end a window";
        return std::nullopt;
    }
    return *hour * 3600 + *minute * 60;
}

// "HH:MM-HH:MM": a window of one day, its end not before its start.
std::optional<config::DayWindow> parseWindow(const std::string& text, std::string& error)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        error = inQuotes(text) + " is not a window HH:MM-HH:MM";
        return std::nullopt;
    }
    const auto from = parseClock(text.substr(0, dash), false, error);
    if (!from)
        return std::nullopt;
    const auto to = parseClock(text.substr(dash + 1), true, error);
    if (!to)
        return std::nullopt;
    if (*to < *from) {
        error = inQuotes(text) + ": the window ends before it starts";
        return std::nullopt;
    }
    return config::DayWindow {*from, *to};
}

// A weekday by name, Sunday = 0.
std::optional<int> parseWeekday(const std::string& name)
{
    static const std::array<std::array<const char*, 2>, 7> kNames = {{
        {"sun", "вс"}, {"mon", "пн"}, {"tue", "вт"}, {"wed", "ср"}, {"thu", "чт"}, {"fri", "пт"}, {"sat", "сб"},
    }};
    for (int day = 0; day < 7; ++day)
        for (const char* known : kNames[static_cast<std::size_t>(day)])
            if (platform::equalsIgnoreCase(name, known))
                return day;
    return std::nullopt;
}

// "1,2,15" or with runs "1-5,20": the month mask with its only-chosen-days flag.
std::optional<std::uint32_t> parseMonthDays(const std::string& text, std::string& error)
{
    std::uint32_t mask = config::kOnlyChosenDays;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const std::size_t dash = part.find('-');
        const auto first = parseDecimal(part.substr(0, dash));
        const auto last = dash == std::string::npos ? first : parseDecimal(part.substr(dash + 1));
        if (!first || !last || *first < 1 || *last > 31 || *first > *last) {
            error = "--days takes days of the month from 1 to 31 (\"1,2,15\" or \"1-5\"), not " + inQuotes(text);
            return std::nullopt;
        }
        for (std::uint32_t day = *first; day <= *last; ++day)
            mask |= 1u << (day - 1);
        if (comma == text.size())
            return mask;
        start = comma + 1;
    }
}

// The block of "daily W", "weekly DAY=W ..." or "workweek [work=W] [weekend=W]".
std::optional<config::ScheduleBlock> parseBlock(const Args& words, std::string& error)
{
    const std::string kind = words.empty() ? "" : words[0];
    const Args rest(words.empty() ? words.end() : words.begin() + 1, words.end());
    if (kind == "daily") {
        if (rest.size() != 1) {
            error = "daily needs one window HH:MM-HH:MM";
            return std::nullopt;
        }
        const auto window = parseWindow(rest[0], error);
        if (!window)
            return std::nullopt;
        return config::dailyBlock(*window);
    }
    if (kind == "weekly" || kind == "workweek") {
        std::array<std::optional<config::DayWindow>, 7> byWeekday;
        std::optional<config::DayWindow> work;
        std::optional<config::DayWindow> weekend;
        for (const std::string& item : rest) {
            const std::size_t equals = item.find('=');
            if (equals == std::string::npos) {
                error = inQuotes(item) + " is not " + (kind == "weekly" ? "DAY=HH:MM-HH:MM" : "work= or weekend=HH:MM-HH:MM");
                return std::nullopt;
            }
            const std::string name = item.substr(0, equals);
            const auto window = parseWindow(item.substr(equals + 1), error);
            if (!window)
                return std::nullopt;
            std::optional<config::DayWindow>* slot = nullptr;
            if (kind == "weekly") {
                const auto day = parseWeekday(name);
                if (!day) {
                    error = "unknown day " + inQuotes(name) + ": use mon tue wed thu fri sat sun (or пн вт ср чт пт сб вс)";
                    return std::nullopt;
                }
                slot = &byWeekday[static_cast<std::size_t>(*day)];
            } else if (name == "work") {
                slot = &work;
            } else if (name == "weekend") {
                slot = &weekend;
            } else {
                error = "workweek takes work= and weekend=, not " + inQuotes(name);
                return std::nullopt;
            }
            if (*slot) {
                error = inQuotes(name) + " is given twice";
                return std::nullopt;
            }
            *slot = *window;
        }
        if (rest.empty()) {
            error = kind == "weekly" ? "weekly needs at least one DAY=HH:MM-HH:MM"
                                     : "workweek needs work=HH:MM-HH:MM, weekend=HH:MM-HH:MM or both";
            return std::nullopt;
        }
        return kind == "weekly" ? config::weeklyBlock(byWeekday) : config::workWeekBlock(work, weekend);
    }
    error = "the schedule kind is daily, weekly or workweek, not " + inQuotes(kind);
    return std::nullopt;
}

// "YYYY-MM-DD HH:MM[:SS]" as a local time with its weekday; nothing for a time that does not
// exist on the calendar.
std::optional<config::LocalTime> parseLocalTime(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int consumed = 0;
    const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%n:%2d%n", &year, &month, &day, &hour,
                                   &minute, &consumed, &second, &consumed);
    if (fields < 5 || static_cast<std::size_t>(consumed) != text.size())
        return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    // The calendar in UTC has no gaps or repeats, so it tells the weekday and whether the date
    // exists (31 April would come back as 1 May).
    std::tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    const std::time_t when = timegm(&parts);
    std::tm back {};
    if (when == static_cast<std::time_t>(-1) || !gmtime_r(&when, &back) || back.tm_mday != day ||
        back.tm_mon != month - 1 || back.tm_year != year - 1900)
        return std::nullopt;
    return config::LocalTime {year, month, back.tm_wday, day, hour, minute, second};
}

// Scheduling as this tool sees it: paused when the operator froze it; the tool never waits
// for calls to end.
class StoreSchedulingFlags : public config::SchedulingFlags {
public:
    explicit StoreSchedulingFlags(bool paused) : m_paused(paused) {}
    bool paused() const override { return m_paused; }
    bool waitingForCompletion() const override { return false; }

private:
    bool m_paused;
};

std::string trimmedRight(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// The withdrawal of a task by a change, in the task manager's words.
void noteWithdrawal(bool wasValid, config::Operator& task)
{
    if (wasValid && !task.valid())
        note("the change withdrew task " + inQuotes(task.name()) +
             " from scheduling: check its other parameters, then run peltra-task include");
}

// ---- The tool ----------------------------------------------------------------------------

class Tool {
public:
    explicit Tool(fs::path storeFile) : m_storeFile(std::move(storeFile)) {}

    int run(const std::string& command, const Args& args);

private:
    // Opens the store. A command that only reads or changes what exists does not create a
    // store that is not there yet; nothing, after the message, when it cannot be used.
    bool open(bool create);
    config::ConfigStore& store() { return *m_config; }
    config::TaskStore& tasks() { return *m_tasks; }
    // The task of a binding, or nothing after the message why.
    std::optional<config::Operator> task(const std::string& binding, const std::string& name);
    std::optional<config::Task> binding(const std::string& name);

    int list(const Args& args);
    int addBinding(const Args& args);
    int setFile(const Args& args);
    int codePage(const Args& args);
    int add(const Args& args);
    int remove(const Args& args);
    int show(const Args& args);
    int set(const Args& args);
    int sort(const Args& args);
    int rangeField(const Args& args);
    int addRange(const Args& args);
    int setRange(const Args& args);
    int removeRange(const Args& args);
    int addCondition(const Args& args);
    int removeCondition(const Args& args);
    int filter(const Args& args);
    int addSchedule(const Args& args);
    int removeSchedule(const Args& args);
    int allowed(const Args& args);
    int addTemplate(const Args& args);
    int test(const Args& args, bool include);
    int exclude(const Args& args);

    fs::path m_storeFile;
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_config;
    std::unique_ptr<config::TaskStore> m_tasks;
};

bool Tool::open(bool create)
{
    std::optional<tools::OpenStore> store = tools::openStore(output, m_storeFile, create, "bindings");
    if (!store)
        return false;
    m_registry = std::move(store->registry);
    m_config = std::move(store->config);
    m_tasks = std::make_unique<config::TaskStore>(*m_config);
    return true;
}

bool checkName(const char* what, const std::string& name)
{
    if (name.empty()) {
        fail(std::string("the ") + what + " name is empty");
        return false;
    }
    if (name.find('\\') != std::string::npos) {
        fail(std::string("a ") + what + " name cannot hold a backslash: " + inQuotes(name));
        return false;
    }
    return true;
}

std::optional<config::Task> Tool::binding(const std::string& name)
{
    if (!checkName("binding", name) || !open(false))
        return std::nullopt;
    std::optional<config::Task> found = tasks().binding(name);
    if (!found)
        fail("no binding " + inQuotes(name));
    return found;
}

std::optional<config::Operator> Tool::task(const std::string& bindingName, const std::string& name)
{
    if (!checkName("task", name) || !binding(bindingName))
        return std::nullopt;
    std::optional<config::Operator> found = tasks().task(bindingName, name);
    if (!found)
        fail("no task " + inQuotes(name) + " in binding " + inQuotes(bindingName));
    return found;
}

int Tool::list(const Args& args)
{
    if (!args.empty())
        return usageError("list takes no arguments");
    std::error_code ec;
    if (!fs::exists(m_storeFile, ec))
        return kExitOk;  // no store, no tasks
    if (!open(false))
        return kExitFailure;
    for (const config::TaskDefinition& definition : tasks().definitions())
        std::cout << definition.binding << '\t' << definition.task << '\t'
                  << (definition.valid ? "valid" : "excluded") << '\n';
    return kExitOk;
}

// A table that can be a task's source, by its canonical path; nothing after the check's
// message when it cannot.
std::optional<std::string> sourceTable(const std::string& file)
{
    const data::CheckOutcome outcome = data::SourceCheck(file);
    if (!outcome.ok) {
        fail(file + ": " + terminalText(outcome.message));
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path canonical = fs::canonical(file, ec);
    return ec ? fs::absolute(file).string() : canonical.string();
}

int Tool::addBinding(const Args& args)
{
    if (args.size() < 2 || args.size() > 3)
        return usageError("add-binding needs NAME, FILE and optionally COMMENT");
    if (!checkName("binding", args[0]))
        return kExitFailure;
    const std::optional<std::string> file = sourceTable(args[1]);
    if (!file || !open(true))
        return kExitFailure;
    switch (tasks().addBinding(args[0], *file, args.size() == 3 ? args[2] : "")) {
    case config::AddResult::Added:
        return kExitOk;
    case config::AddResult::Exists:
        return fail("a binding named " + inQuotes(args[0]) + " already exists");
    case config::AddResult::BadName:
        return fail("a binding name cannot be empty or hold a backslash: " + inQuotes(args[0]));
    case config::AddResult::Failed:
        break;
    }
    return fail("cannot write the binding: " + platform::RegistryStore::lastError());
}

int Tool::setFile(const Args& args)
{
    if (args.size() != 2)
        return usageError("set-file needs BINDING and FILE");
    if (!checkName("binding", args[0]))
        return kExitFailure;
    const std::optional<std::string> file = sourceTable(args[1]);
    if (!file)
        return kExitFailure;
    std::optional<config::Task> found = binding(args[0]);
    if (!found)
        return kExitFailure;
    switch (found->setFile(*file)) {
    case config::Change::Changed:
        note("the table changed: every task of binding " + inQuotes(args[0]) +
             " was excluded from scheduling; test and include them again");
        return kExitOk;
    case config::Change::Unchanged:
        return kExitOk;
    case config::Change::NotFound:
        break;
    }
    return fail("cannot write the table of binding " + inQuotes(args[0]));
}

int Tool::codePage(const Args& args)
{
    if (args.empty() || args.size() > 2)
        return usageError("codepage needs BINDING and optionally 866, 1251 or auto");
    if (args.size() == 2 && !config::codePageSetting(args[1]))
        return usageError("the code page is 866, 1251 or auto, not " + inQuotes(args[1]));
    std::optional<config::Task> found = binding(args[0]);
    if (!found)
        return kExitFailure;
    if (args.size() == 2 && !found->setCodePage(args[1]))
        return fail("cannot write the code page of binding " + inQuotes(args[0]));
    const std::string stored = found->codePage();
    const std::optional<std::string> valid = config::codePageSetting(stored);
    if (!valid)
        return fail("binding " + inQuotes(args[0]) + " holds the code page " + inQuotes(stored) +
                    ", which is not 866, 1251 or auto; set it again");
    const std::string& setting = *valid;
    // How the table is read with that setting: by its own mark, by the setting, or by its text.
    data::DbfTable::Options options;
    if (!setting.empty())
        options.unmarkedCodePage = static_cast<unsigned>(std::stoul(setting));
    std::string error;
    const auto table = data::DbfTable::open(found->file(), options, &error);
    std::string reading = "table not readable: " + error;
    if (table)
        reading = "table read as " + std::to_string(table->codePage()) +
                  (data::isCodePageMark(table->languageDriver()) ? " (marked in its header; the setting does not apply)"
                   : setting.empty()                             ? " (unmarked; judged from its text)"
                                                                 : " (unmarked; by the setting)");
    if (args.size() == 2 && table && data::isCodePageMark(table->languageDriver()))
        note("the table's header marks code page " + std::to_string(table->codePage()) + "; the setting applies only to unmarked tables");
    std::cout << (setting.empty() ? "auto" : setting) << '\t' << reading << '\n';
    return kExitOk;
}

int Tool::add(const Args& args)
{
    if (args.size() != 2)
        return usageError("add needs BINDING and TASK");
    if (!checkName("task", args[1]))
        return kExitFailure;
    std::optional<config::Task> found = binding(args[0]);
    if (!found)
        return kExitFailure;
    switch (found->operators().add(args[1])) {
    case config::AddResult::Added:
        note("task " + inQuotes(args[1]) +
             " is not included in scheduling yet: set its filter, schedules and template, then run peltra-task include");
        return kExitOk;
    case config::AddResult::Exists:
        return fail(terminalText("Данное название уже есть!\r\nУкажите другое название."));
    case config::AddResult::BadName:
        return fail("a task name cannot be empty or hold a backslash: " + inQuotes(args[1]));
    case config::AddResult::Failed:
        break;
    }
    return fail("cannot write the task: " + platform::RegistryStore::lastError());
}

int Tool::remove(const Args& args)
{
    if (args.empty() || args.size() > 2)
        return usageError("remove needs BINDING and optionally TASK");
    if (args.size() == 1) {
        if (!binding(args[0]))
            return kExitFailure;
        return tasks().removeBinding(args[0]) ? kExitOk : fail("cannot remove binding " + inQuotes(args[0]));
    }
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    return config::Operators(store(), args[0]).remove(args[1]) ? kExitOk
                                                               : fail("cannot remove task " + inQuotes(args[1]));
}

// The template of an existing task; constructing it creates its key when missing.
std::unique_ptr<speech::Patterns> openTemplate(config::ConfigStore& store, config::Operator& task)
{
    auto patterns = std::make_unique<speech::Patterns>(store, task.binding(), task.name());
    if (!patterns->isOpen()) {
        fail(patterns->openError());
        return nullptr;
    }
    return patterns;
}

int Tool::show(const Args& args)
{
    if (args.size() != 2)
        return usageError("show needs BINDING and TASK");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    config::Operator& t = *found;
    std::string text;
    for (const config::PropertyInfo& info : config::taskProperties())
        text += std::string(info.name) + " = " + (info.isText ? t.text(info.id) : std::to_string(t.number(info.id))) +
                "\n";
    text += "Поле диапазонов = " + t.rangeField() + "\n";
    text += "Тип поля диапазонов = " + t.rangeType() + "\n";
    for (const config::Range& range : t.ranges())
        text += "Диапазон " + std::to_string(config::subKeyNumber(range.name)) + " = " +
                std::to_string(range.minValue) + ".." + std::to_string(range.maxValue) + "\n";
    for (const config::AndConds& product : t.conditions().products)
        for (const config::AndCond& condition : product.conditions)
            text += "Условие " + product.keyName + " " + condition.keyName + " = " + condition.condition.text(false) +
                    "\n";
    text += "Фильтр = " + t.filterText(false) + "\n";
    for (const config::ScheduleData& schedule : t.schedules().all())
        text += "Расписание " + std::to_string(config::subKeyNumber(schedule.name)) + ": " +
                trimmedRight(config::scheduleText(schedule.block, schedule.monthMask)) +
                (schedule.night ? " (ночное оповещение разрешено)" : "") + "\n";
    std::string ports;
    for (const std::string& port : t.availablePorts().list())
        ports += (ports.empty() ? "" : ", ") + port;
    text += "Доступные порты = " + ports + "\n";
    const auto patterns = openTemplate(store(), t);
    if (!patterns)
        return kExitFailure;
    std::vector<speech::PatternItem> items;
    std::string error;
    if (!patterns->Load(items, &error))
        return fail("cannot read the template: " + error);
    for (const speech::PatternItem& item : items)
        text += "Шаблон " + item.keyName + " = " + item.path + (item.arg.empty() ? "" : " [" + item.arg + "]") + "\n";
    std::cout << text;
    return kExitOk;
}

int Tool::set(const Args& args)
{
    if (args.size() != 4)
        return usageError("set needs BINDING, TASK, PROPERTY and VALUE");
    const config::PropertyInfo* info = config::findTaskProperty(args[2]);
    if (!info)
        return fail("no task property " + inQuotes(args[2]));
    const std::string name(info->name);
    if (info->access == config::PropertyAccess::Sort)
        return fail(name + " is set with the sort: peltra-task sort BINDING TASK FIELD TYPE asc|desc");
    if (info->access == config::PropertyAccess::Validity)
        return fail(name + " is set by peltra-task include (after the test) and peltra-task exclude");
    const std::string& value = args[3];
    std::optional<std::uint32_t> number;
    if (!info->isText) {
        number = parseDecimal(value);
        if (!number)
            return fail(name + " takes a decimal number from 0 to 4294967295, not " + inQuotes(value));
        if (const auto refused = config::checkPropertyValue(info->id, *number))
            return fail(*refused);
    } else if (info->id == config::TaskProperty::ArhiveFile && !value.empty() &&
               !platform::equalsIgnoreCase(fs::path(value).extension().string(), ".dbf")) {
        return fail(terminalText("Файл должен иметь расширение \".DBF\""));
    }
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    const bool ok = number ? found->setNumber(info->id, *number) : found->setText(info->id, value);
    if (!ok)
        return fail("cannot write " + name + " of task " + inQuotes(args[1]));
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

// A field's type letter as the table gives it ("N", "C", "D", ...); empty only with no field.
bool checkFieldType(const std::string& field, const std::string& type)
{
    if (field.empty() && type.empty())
        return true;
    if (field.empty()) {
        fail("the field name is empty");
        return false;
    }
    if (type.size() != 1 || !std::isalpha(static_cast<unsigned char>(type[0]))) {
        fail("the field type is one letter (N, C, D, ...), not " + inQuotes(type));
        return false;
    }
    return true;
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

int Tool::sort(const Args& args)
{
    if (args.size() != 5)
        return usageError("sort needs BINDING, TASK, FIELD, TYPE and asc or desc");
    if (args[4] != "asc" && args[4] != "desc")
        return usageError("the order is asc or desc, not " + inQuotes(args[4]));
    if (!checkFieldType(args[2], args[3]))
        return kExitFailure;
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    if (found->setSort(args[2], upper(args[3]), args[4] == "asc") == config::Change::NotFound)
        return fail("cannot write the sort of task " + inQuotes(args[1]));
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::rangeField(const Args& args)
{
    if (args.size() != 4)
        return usageError("range-field needs BINDING, TASK, FIELD and TYPE");
    if (!checkFieldType(args[2], args[3]))
        return kExitFailure;
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    const std::string type = upper(args[3]);
    if (found->setRangeField(args[2], type) == config::Change::NotFound)
        return fail("cannot write the range field of task " + inQuotes(args[1]));
    if (!type.empty() && type != "N")
        note("ranges filter only a numeric (N) field: with type " + type + " the range filter is empty");
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

// Range bounds from text; nothing after the message when either is no 32-bit unsigned number.
std::optional<std::pair<std::uint32_t, std::uint32_t>> parseBounds(const std::string& min, const std::string& max)
{
    const auto low = parseDecimal(min);
    const auto high = parseDecimal(max);
    if (!low || !high) {
        fail("range bounds are whole numbers from 0 to 4294967295, not " + inQuotes(low ? max : min));
        return std::nullopt;
    }
    return std::make_pair(*low, *high);
}

int Tool::addRange(const Args& args)
{
    if (args.size() != 4)
        return usageError("add-range needs BINDING, TASK, MIN and MAX");
    const auto bounds = parseBounds(args[2], args[3]);
    if (!bounds)
        return kExitFailure;
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    const std::optional<std::string> name = found->addRange(bounds->first, bounds->second);
    if (!name)
        return fail("Ошибка записи диапазона!");
    std::cout << *name << '\n';
    if (found->rangeField().empty())
        note("no range field is set for " + inQuotes(args[1]) + ": set it with peltra-task range-field");
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

std::optional<std::string> rangeName(config::Operator& task, const std::string& argument)
{
    std::vector<std::string> names;
    for (const config::Range& range : task.ranges())
        names.push_back(range.name);
    const auto name = findNumbered(names, argument);
    if (!name)
        fail("no range " + inQuotes(argument) + " in task " + inQuotes(task.name()));
    return name;
}

int Tool::setRange(const Args& args)
{
    if (args.size() != 5)
        return usageError("set-range needs BINDING, TASK, NAME, MIN and MAX");
    const auto bounds = parseBounds(args[3], args[4]);
    if (!bounds)
        return kExitFailure;
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const auto name = rangeName(*found, args[2]);
    if (!name)
        return kExitFailure;
    const bool wasValid = found->valid();
    if (found->setRangeBounds(*name, bounds->first, bounds->second) == config::Change::NotFound)
        return fail("Ошибка записи диапазона!");
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::removeRange(const Args& args)
{
    if (args.size() != 3)
        return usageError("remove-range needs BINDING, TASK and NAME");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const auto name = rangeName(*found, args[2]);
    if (!name)
        return kExitFailure;
    const bool wasValid = found->valid();
    if (!found->removeRange(*name))
        return fail("cannot remove range " + inQuotes(*name));
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

// The product of the working copy an argument names, or nothing after the message.
config::AndConds* findProduct(config::ConditionSet& set, const std::string& argument, const std::string& taskName)
{
    std::vector<std::string> names;
    for (const config::AndConds& product : set.products)
        names.push_back(product.keyName);
    const auto name = findNumbered(names, argument);
    if (!name) {
        fail("no logical product " + inQuotes(argument) + " in the condition of task " + inQuotes(taskName));
        return nullptr;
    }
    return set.product(*name);
}

int Tool::addCondition(const Args& args)
{
    const Options options(args, {"--expression"}, {});
    if (!options.error().empty())
        return usageError(options.error());
    const Args& rest = options.positional();
    const std::optional<std::string> expression = options.value("--expression");
    config::SimpleCondition condition;
    if (expression) {
        if (rest.size() != 3)
            return usageError("add-condition with --expression needs BINDING, TASK and PRODUCT");
        if (expression->empty())
            return fail("the expression is empty");
        condition.type = config::kConditionExpression;
        condition.expression = *expression;
    } else {
        if (rest.size() != 6)
            return usageError("add-condition needs BINDING, TASK, PRODUCT, FIELD, OP and VALUE");
        std::optional<std::uint32_t> code = config::compareCode(rest[4]);
        if (!code && platform::equalsIgnoreCase(rest[4], "Like"))
            code = config::compareCode("Like");
        if (!code && platform::equalsIgnoreCase(rest[4], "NotLike"))
            code = config::compareCode("NotLike");
        if (!code)
            return fail("the comparison is one of Like NotLike = <> < > <= >=, not " + inQuotes(rest[4]));
        if (rest[3].empty())
            return fail("the field name is empty");
        if (rest[5].empty())
            return fail("the value is empty: give SQL text, with quotes around a text or date literal");
        condition.type = config::kConditionCompare;
        condition.field = rest[3];
        condition.compare = *code;
        condition.value = rest[5];
    }
    std::optional<config::Operator> found = task(rest[0], rest[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    config::ConditionSet set = found->conditions();
    config::AndConds* product = nullptr;
    if (rest[2] == "new")
        product = set.product(set.addProduct());
    else
        product = findProduct(set, rest[2], rest[1]);
    if (!product)
        return kExitFailure;
    const std::string conditionName = product->add(condition);
    const std::string productName = product->keyName;
    if (!found->applyConditions(set))
        return fail("cannot write the condition: " + platform::RegistryStore::lastError());
    std::cout << productName << '\t' << conditionName << '\n';
    if (found->number(config::TaskProperty::Typefilter) != config::kFilterCondition)
        note("task " + inQuotes(rest[1]) + " filters by its condition only with Typefilter 2");
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::removeCondition(const Args& args)
{
    if (args.size() != 3 && args.size() != 4)
        return usageError("remove-condition needs BINDING, TASK, PRODUCT and optionally CONDITION");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    config::ConditionSet set = found->conditions();
    config::AndConds* product = findProduct(set, args[2], args[1]);
    if (!product)
        return kExitFailure;
    if (args.size() == 3) {
        product->deleted = true;
    } else {
        std::vector<std::string> names;
        for (const config::AndCond& condition : product->conditions)
            names.push_back(condition.keyName);
        const auto name = findNumbered(names, args[3]);
        if (!name)
            return fail("no condition " + inQuotes(args[3]) + " in logical product " + inQuotes(product->keyName));
        for (std::size_t i = 0; i < product->conditions.size(); ++i)
            if (product->conditions[i].keyName == *name)
                product->markDeleted(i);
    }
    if (!found->applyConditions(set))
        return fail("cannot write the condition: " + platform::RegistryStore::lastError());
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::filter(const Args& args)
{
    const Options options(args, {}, {"--quote"});
    if (!options.error().empty())
        return usageError(options.error());
    if (options.positional().size() != 2)
        return usageError("filter needs BINDING and TASK");
    std::optional<config::Operator> found = task(options.positional()[0], options.positional()[1]);
    if (!found)
        return kExitFailure;
    std::cout << found->filterText(options.flag("--quote")) << '\n';
    return kExitOk;
}

int Tool::addSchedule(const Args& args)
{
    const Options options(args, {"--days"}, {"--night"});
    if (!options.error().empty())
        return usageError(options.error());
    const Args& rest = options.positional();
    if (rest.size() < 3)
        return usageError("add-schedule needs BINDING, TASK and daily, weekly or workweek with windows");
    std::string error;
    const std::optional<config::ScheduleBlock> block = parseBlock(Args(rest.begin() + 2, rest.end()), error);
    if (!block)
        return fail(error + "; no schedule was added");
    std::uint32_t monthMask = 0;
    if (const auto days = options.value("--days")) {
        const auto mask = parseMonthDays(*days, error);
        if (!mask)
            return fail(error + "; no schedule was added");
        monthMask = *mask;
    }
    std::optional<config::Operator> found = task(rest[0], rest[1]);
    if (!found)
        return kExitFailure;
    const bool wasValid = found->valid();
    const std::optional<std::string> name = found->schedules().add(*block, monthMask, options.flag("--night"));
    if (!name)
        return fail("Ошибка записи расписания!");
    std::cout << *name << '\n';
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::removeSchedule(const Args& args)
{
    if (args.size() != 3)
        return usageError("remove-schedule needs BINDING, TASK and NAME");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const auto name = findNumbered(found->schedules().names(), args[2]);
    if (!name)
        return fail("no schedule " + inQuotes(args[2]) + " in task " + inQuotes(args[1]));
    const bool wasValid = found->valid();
    if (!found->schedules().remove(*name))
        return fail("cannot remove schedule " + inQuotes(*name));
    noteWithdrawal(wasValid, *found);
    return kExitOk;
}

int Tool::allowed(const Args& args)
{
    const Options options(args, {"--at"}, {});
    if (!options.error().empty())
        return usageError(options.error());
    if (options.positional().size() != 2)
        return usageError("allowed needs BINDING and TASK");
    config::LocalTime at = config::localTimeNow();
    if (const auto text = options.value("--at")) {
        const auto parsed = parseLocalTime(*text);
        if (!parsed)
            return fail("--at takes a date and time that exist, \"YYYY-MM-DD HH:MM:SS\", not " + inQuotes(*text));
        at = *parsed;
    }
    std::optional<config::Operator> found = task(options.positional()[0], options.positional()[1]);
    if (!found)
        return kExitFailure;
    const StoreSchedulingFlags flags(config::AppSettings(store()).frozen());
    std::cout << (found->allowedAt(flags, at) ? "yes" : "no") << '\n';
    return kExitOk;
}

int Tool::addTemplate(const Args& args)
{
    const Options options(args, {"--after"}, {"--first"});
    if (!options.error().empty())
        return usageError(options.error());
    const Args& rest = options.positional();
    const std::optional<std::string> after = options.value("--after");
    if (after && options.flag("--first"))
        return usageError("give --after or --first, not both");
    if (rest.size() != 3 && rest.size() != 4)
        return usageError("add-template needs BINDING, TASK, PATH and optionally ARG");
    speech::PatternItem item;
    item.path = rest[2];
    item.arg = rest.size() == 4 ? rest[3] : "";
    if (item.path.empty())
        return fail("the catalogue path is empty");
    std::optional<config::Operator> found = task(rest[0], rest[1]);
    if (!found)
        return kExitFailure;
    const auto patterns = openTemplate(store(), *found);
    if (!patterns)
        return kExitFailure;
    std::string afterName;
    if (!options.flag("--first")) {
        std::vector<speech::PatternItem> items;
        std::string error;
        if (!patterns->Load(items, &error))
            return fail("cannot read the template: " + error);
        if (after) {
            std::vector<std::string> names;
            for (const speech::PatternItem& existing : items)
                names.push_back(existing.keyName);
            const auto name = findNumbered(names, *after);
            if (!name)
                return fail("no template item " + inQuotes(*after) + " in task " + inQuotes(rest[1]));
            afterName = *name;
        } else if (!items.empty()) {
            afterName = items.back().keyName;
        }
    }
    std::string error;
    const std::optional<std::string> name = patterns->Insert(afterName, item, &error);
    if (!name)
        return fail("cannot add the template item: " + error);
    std::cout << *name << '\n';
    const std::optional<speech::CatalogueEntry> entry = patterns->catalogue().entry(item.path);
    if (!entry || !entry->isLeaf)
        note("the catalogue has no phrase " + inQuotes(item.path) +
             ": until it exists the task's message cannot be played, and every call of the task ends "
             "in an error before dialing");
    else if ((entry->chunk.starts_with("@") || entry->chunk.starts_with("#")) && item.arg.empty())
        note(inQuotes(item.path) + " speaks a column, and no ARG names it");
    return kExitOk;
}

int Tool::test(const Args& args, bool include)
{
    if (args.size() != 2)
        return usageError(std::string(include ? "include" : "test") + " needs BINDING and TASK");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    const editors::TaskTestReport report =
        editors::runTaskTest(tasks(), args[0], args[1], [](const std::string& line) { std::cout << line << '\n'; });
    std::cout.flush();
    if (report.queryRun && !report.query.ok) {
        if (!report.query.sql.empty())
            note("the query: " + report.query.sql);
        if (!report.query.message.empty())
            note(terminalText(report.query.message));
        for (const data::OdbcError& error : report.query.errors)
            std::cerr << terminalText(data::errorBoxText(error)) << '\n';
    }
    if (!report.passed())
        return include ? fail("the test found a critical error: task " + inQuotes(args[1]) + " stays excluded")
                       : kExitFailure;
    if (!include)
        return kExitOk;
    switch (editors::includeTestedTask(tasks(), report)) {
    case editors::IncludeResult::Included:
        return kExitOk;
    case editors::IncludeResult::Changed:
        return fail("task " + inQuotes(args[1]) + " changed while it was tested: it stays excluded; test it again");
    default:
        return fail("cannot include task " + inQuotes(args[1]) + ": " + platform::RegistryStore::lastError());
    }
}

int Tool::exclude(const Args& args)
{
    if (args.size() != 2)
        return usageError("exclude needs BINDING and TASK");
    std::optional<config::Operator> found = task(args[0], args[1]);
    if (!found)
        return kExitFailure;
    return found->setValid(false) ? kExitOk : fail("cannot exclude task " + inQuotes(args[1]));
}

int Tool::run(const std::string& command, const Args& args)
{
    using Command = int (Tool::*)(const Args&);
    static const std::vector<std::pair<std::string, Command>> kCommands = {
        {"list", &Tool::list},
        {"add-binding", &Tool::addBinding},
        {"set-file", &Tool::setFile},
        {"codepage", &Tool::codePage},
        {"add", &Tool::add},
        {"remove", &Tool::remove},
        {"show", &Tool::show},
        {"set", &Tool::set},
        {"sort", &Tool::sort},
        {"range-field", &Tool::rangeField},
        {"add-range", &Tool::addRange},
        {"set-range", &Tool::setRange},
        {"remove-range", &Tool::removeRange},
        {"add-condition", &Tool::addCondition},
        {"remove-condition", &Tool::removeCondition},
        {"filter", &Tool::filter},
        {"add-schedule", &Tool::addSchedule},
        {"remove-schedule", &Tool::removeSchedule},
        {"allowed", &Tool::allowed},
        {"add-template", &Tool::addTemplate},
        {"exclude", &Tool::exclude},
    };
    if (command == "test" || command == "include")
        return test(args, command == "include");
    for (const auto& [name, function] : kCommands)
        if (name == command)
            return (this->*function)(args);
    return usageError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv)
{
    Args args(argv + 1, argv + argc);
    std::optional<std::string> home;
    std::string command;
    if (const auto done = tools::takeCommand(output, args, home, command))
        return *done;
    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    Tool tool(config::registryFile(*folder));
    return tool.run(command, args);
}
