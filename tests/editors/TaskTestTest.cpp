// The task test report over a table python3-dbf writes: its lines in order, each finding in its
// place, the verdict its findings call for, the rows its query selects, and including only as tested.
#include "editors/TaskTest.h"

#include "SoundTask.h"
#include "speech/Patterns.h"
#include "support/PythonDbf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace peltra::editors {
namespace {

using config::Change;
using config::TaskProperty;
using test::SoundTask;
using Lines = std::vector<std::string>;

const std::string kRule = "=================================================";
const std::string kCritical = "!!!!! Критическая ошибка !!!!!";
const std::string kWarning = "!!!!! Предупреждение !!!!!";
const std::string kQueryFailed = kCritical + " Ошибка выполнения SQL запроса.";

bool anyStarts(const Lines& lines, const std::string& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// The parts of a report that change from case to case; the defaults are those of the sound task.
struct Expected {
    std::string binding = SoundTask::kBinding;
    std::string task = SoundTask::kTask;
    std::string file;
    std::string sort = "Сортировка: по возрастанию поля \"SUMMA\"";
    Lines filter = {"Фильтр не назначен."};
    Lines redialing = {"Повторный звонок после неудачной попытки: без ожидания.",
                       "Попыток дозвона по строке: без ограничения."};
    Lines schedules = {"1: Ежедневно: 08:00-20:00; "};
    Lines pattern = {"В речевом шаблоне находится 3 фраз"};
    Lines query = {"Запрос выполнен успешно."};
    Lines shared;
    bool found = true;

    Lines lines() const
    {
        Lines out = {"База данных: \"" + binding + "\"", "Файл: \"" + file + "\"", "Задание: \"" + task + "\"", kRule};
        const auto append = [&](const Lines& more) { out.insert(out.end(), more.begin(), more.end()); };
        if (!found) {
            append({kCritical + " Задание не найдено."});
        } else {
            append({sort, ""});
            append(filter);
            append({""});
            append(redialing);
            append({"", "Расписания:"});
            append(schedules);
            append({"", "Шаблон речевого оповещения:"});
            append(pattern);
            append({"", "Выполнение SQL запроса..."});
            append(query);
            append(shared);
        }
        append({"Тест окончен.", kRule});
        // The verdict follows from the findings alone: any critical one bars the task.
        if (anyStarts(out, kCritical))
            append({"В процессе тестирования обнаружены критические ошибки.",
                    "Задание не может быть включенным в планирование."});
        else if (anyStarts(out, kWarning))
            append({"В процессе тестирования обнаружены некритические ошибки.",
                    "Перед включением задания в планирование рекомендуется проверить его параметры."});
        else
            append({"Ошибок не обнаружено.", "Задание может быть включенным в планирование."});
        return out;
    }
};

// Runs the test as the test window does, and holds the report against what is expected: the
// lines, each handed to the watcher as written, and the flags the findings call for.
TaskTestReport expectReport(SoundTask& fixture, const Expected& expected)
{
    Lines seen;
    TaskTestReport report = runTaskTest(fixture.tasks(), expected.binding, expected.task,
                                        [&](const std::string& line) { seen.push_back(line); });
    const Lines lines = expected.lines();
    EXPECT_EQ(report.lines, lines);
    EXPECT_EQ(seen, report.lines);
    EXPECT_EQ(report.critical, anyStarts(lines, kCritical));
    EXPECT_EQ(report.warning, anyStarts(lines, kWarning));
    return report;
}

// The TELEF of each row the query selected, in order.
Lines phones(const TaskTestReport& report)
{
    Lines out;
    for (const auto& row : report.query.rows)
        out.push_back(row.empty() ? "?" : row[0]);
    return out;
}

void setCondition(config::Operator task, const config::SimpleCondition& condition)
{
    config::ConditionSet set = task.conditions();
    set.products[set.addProduct()].add(condition);
    ASSERT_TRUE(task.applyConditions(set));
    ASSERT_TRUE(task.setNumber(TaskProperty::Typefilter, config::kFilterCondition));
}

void setRanges(config::Operator task, const std::vector<std::pair<double, double>>& ranges)
{
    ASSERT_TRUE(task.setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    for (const auto& [low, high] : ranges)
        ASSERT_TRUE(task.addRange(low, high));
}

// One thing spoiled in the sound task, and what the report says of it.
struct Case {
    const char* name;
    std::function<void(SoundTask&)> spoil;
    std::function<void(Expected&)> expect;
    Lines phones = {};  // the rows the query selects, by TELEF; not checked when empty
};

const std::string kNoSchedule = kCritical + " Не начначено расписание.";
const Lines kNoCondition = {"Фильтр - логическое условие:",
                            kWarning + " Назначен фильтр по логическому условию, но не определено условие!"};
const Lines kAllRows = {"2002", "2001", "2003", "2004"};

void removePhrases(SoundTask& s, const Lines& keys)
{
    speech::Patterns patterns(s.store(), SoundTask::kBinding, SoundTask::kTask);
    for (const std::string& key : keys)
        ASSERT_TRUE(patterns.Remove(key)) << key;
}

void setFilter(SoundTask& s, std::uint32_t kind) { ASSERT_TRUE(s.task().setNumber(TaskProperty::Typefilter, kind)); }

void setTable(SoundTask& s, const std::string& path)
{
    ASSERT_EQ(s.tasks().binding(SoundTask::kBinding)->setFile(path), Change::Changed);
}

const Case kCases[] = {
    {"sound", [](SoundTask&) {}, [](Expected&) {}, kAllRows},
    {"descending", [](SoundTask& s) { ASSERT_EQ(s.task().setSort("SUMMA", "N", false), Change::Changed); },
     [](Expected& e) { e.sort = "Сортировка: по убыванию поля \"SUMMA\""; }, {"2004", "2003", "2001", "2002"}},
    {"pause only", [](SoundTask& s) { ASSERT_TRUE(s.task().setNumber(TaskProperty::RetryMinute, 30)); },
     [](Expected& e) { e.redialing[0] = "Повторный звонок после неудачной попытки: не ранее, чем через 30 мин."; }},
    {"attempts only", [](SoundTask& s) { ASSERT_TRUE(s.task().setNumber(TaskProperty::MaxAttempts, 5)); },
     [](Expected& e) { e.redialing[1] = "Попыток дозвона по строке: не более 5."; }},
    {"no schedule", [](SoundTask& s) { ASSERT_TRUE(s.task().schedules().remove("0001")); },
     [](Expected& e) { e.schedules = {kNoSchedule}; }},
    {"schedules by position",
     [](SoundTask& s) {
         std::array<std::optional<config::DayWindow>, 7> monday{};
         monday[1] = config::DayWindow{9 * 3600, 24 * 3600};
         ASSERT_TRUE(s.task().schedules().add(config::weeklyBlock(monday), 0x80000003u, true));
         ASSERT_TRUE(s.task().schedules().add({{}, 30}, 0, false));
     },
     [](Expected& e) {
         e.schedules = {"1: Ежедневно: 08:00-20:00; ", "2: 1,2 числа каждого м-ца: Пн:09:00-24:00; ", "3: "};
     }},
    {"one phrase", [](SoundTask& s) { removePhrases(s, {"0001", "0003"}); },
     [](Expected& e) { e.pattern = {"В речевом шаблоне находится 1 фраз"}; }},
    {"empty template", [](SoundTask& s) { removePhrases(s, {"0001", "0002", "0003"}); },
     [](Expected& e) { e.pattern = {kCritical + " В речевом шаблоне нет ни одной фразы."}; }},
    {"ranges without ranges", [](SoundTask& s) { setRanges(s.task(), {}); },
     [](Expected& e) {
         e.filter = {"Фильтр по диапазонам поля SUMMA:",
                     kWarning + " Назначен фильтр по диапазонам, но не определены диапазоны!"};
     },
     kAllRows},
    {"ranges", [](SoundTask& s) { setRanges(s.task(), {{1, 100}, {600, 500}}); },
     [](Expected& e) {
         e.filter = {"Фильтр по диапазонам поля SUMMA:", "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=500 AND SUMMA<=600"};
     },
     {"2002", "2003"}},
    {"condition without condition", [](SoundTask& s) { setFilter(s, config::kFilterCondition); },
     [](Expected& e) { e.filter = kNoCondition; }},
    {"warning and critical",
     [](SoundTask& s) {
         setFilter(s, config::kFilterCondition);
         ASSERT_TRUE(s.task().schedules().remove("0001"));
     },
     [](Expected& e) { e.filter = kNoCondition, e.schedules = {kNoSchedule}; }},
    // The negated like of the condition editor: the rows whose FIO does not begin with ИВ, any case.
    {"negated like", [](SoundTask& s) { setCondition(s.task(), {config::kConditionCompare, "FIO", 1, "'ИВ%'", ""}); },
     [](Expected& e) { e.filter = {"Фильтр - логическое условие:", "FIO NotLike 'ИВ%'"}; }, {"2002", "2004"}},
    {"query fails",
     [](SoundTask& s) { setCondition(s.task(), {config::kConditionExpression, "", 2, "", "NOSUCHFIELD > 1"}); },
     [](Expected& e) { e.filter = {"Фильтр - логическое условие:", "NOSUCHFIELD > 1"}, e.query = {kQueryFailed}; }},
    {"unfit result columns",
     [](SoundTask& s) {
         std::filesystem::remove(s.table());
         test::writeTableByPython(s.table(), "TELEF C(12); PROBA C(3); OTBOJ N(3,0); DATA D; CLOCK C(5); SUMMA N(10,0)",
                                  {}, "cp866", false);
     },
     [](Expected& e) {
         e.query = {"Запрос выполнен успешно.",
                    kCritical + " Поле PROBA (C3) не может принять результат звонка: нужно Num.",
                    kCritical + " Поле CLOCK (C5) не может принять результат звонка: нужно Char (8)."};
     }},
    {"missing table", [](SoundTask& s) { std::filesystem::remove(s.table()); },
     [](Expected& e) { e.query = {"Не найден файл: " + e.file, kQueryFailed}; }},
    {"no table path", [](SoundTask& s) { setTable(s, ""); },
     [](Expected& e) { e.file.clear(), e.query = {"Не найден файл: ", kQueryFailed}; }},
    {"a folder for a table", [](SoundTask& s) { setTable(s, s.folder().string()); },
     [](Expected& e) {
         e.file = std::filesystem::path(e.file).parent_path().string();
         e.query = {"Не найден файл: " + e.file, kQueryFailed};
     }},
    {"no such task", [](SoundTask&) {}, [](Expected& e) { e.task = "Нет такого", e.found = false; }},
    {"no such binding", [](SoundTask&) {},
     [](Expected& e) { e.binding = "Нет такой", e.file.clear(), e.found = false; }},
    {"no task name", [](SoundTask&) {}, [](Expected& e) { e.task.clear(), e.found = false; }},
};

TEST(TaskTestTest, EachFindingInItsPlace)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        SoundTask fixture;
        ASSERT_EQ(fixture.error(), "");
        c.spoil(fixture);
        Expected expected;
        expected.file = fixture.table().string();
        c.expect(expected);
        const TaskTestReport report = expectReport(fixture, expected);
        EXPECT_EQ(report.queryRun, std::filesystem::is_regular_file(expected.file) && expected.found);
        if (!c.phones.empty()) {
            EXPECT_EQ(phones(report), c.phones);
        }
        // The test makes nothing.
        EXPECT_EQ(fixture.tasks().bindingNames(), (Lines{SoundTask::kBinding}));
        EXPECT_EQ(config::Operators(fixture.store(), SoundTask::kBinding).names(), (Lines{SoundTask::kTask}));
    }
}

// Another included task on the same table, reached by a link, calls the same people; an excluded
// one and the tested task itself do not count.
TEST(TaskTestTest, AnotherIncludedTaskOnTheSameFileIsAWarning)
{
    SoundTask fixture;
    ASSERT_EQ(fixture.error(), "");
    const std::filesystem::path link = fixture.folder() / "link.dbf";
    std::filesystem::create_symlink(fixture.table(), link);
    ASSERT_EQ(fixture.tasks().addBinding("Копия", link.string(), ""), config::AddResult::Added);
    for (const char* name : {"Включено", "Выключено"})
        ASSERT_EQ(config::Operators(fixture.store(), "Копия").add(name), config::AddResult::Added);
    ASSERT_TRUE(fixture.tasks().task("Копия", "Включено")->setValid(true));
    ASSERT_TRUE(fixture.task().setValid(true));

    Expected expected;
    expected.file = fixture.table().string();
    expected.shared = {kWarning + " Этот же файл использует включенное в планирование задание \"Копия\\Включено\": "
                                  "номер, который занят звонком одного задания, другое пропускает до конца звонка."};
    expectReport(fixture, expected);
    ASSERT_TRUE(fixture.tasks().task("Копия", "Включено")->setValid(false));
    expected.shared.clear();
    expectReport(fixture, expected);
}

// A task is included only as it was tested: a failed test, or a change of what the test looked
// at made meanwhile, leaves it excluded; a change of something the test does not look at does not.
TEST(TaskTestTest, IncludedOnlyWhenPassedAndUnchangedSinceTheTest)
{
    SoundTask fixture;
    ASSERT_EQ(fixture.error(), "");
    config::TaskStore& tasks = fixture.tasks();
    const auto run = [&] { return runTaskTest(tasks, SoundTask::kBinding, SoundTask::kTask); };
    ASSERT_TRUE(fixture.task().schedules().remove("0001"));
    EXPECT_EQ(includeTestedTask(tasks, run()), IncludeResult::Refused);
    EXPECT_FALSE(fixture.task().valid());

    ASSERT_TRUE(fixture.task().schedules().add(config::dailyBlock({8 * 3600, 20 * 3600}), 0, false));
    TaskTestReport passed = run();
    ASSERT_TRUE(fixture.task().schedules().add(config::dailyBlock({9 * 3600, 10 * 3600}), 0, false));
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Changed);
    // The filter's text changes with a range added, its kind does not.
    setRanges(fixture.task(), {});
    passed = run();
    ASSERT_TRUE(passed.passed());
    ASSERT_TRUE(fixture.task().addRange(1, 100));
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Changed);
    EXPECT_FALSE(fixture.task().valid());

    passed = run();
    ASSERT_TRUE(fixture.task().setNumber(TaskProperty::Behaviour, config::kStartFromBeginning));
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Included);
    EXPECT_TRUE(fixture.task().valid());

    ASSERT_TRUE(config::Operators(fixture.store(), SoundTask::kBinding).remove(SoundTask::kTask));
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Failed);
    EXPECT_FALSE(tasks.task(SoundTask::kBinding, SoundTask::kTask)) << "including never makes the task again";
}

}  // namespace
}  // namespace peltra::editors
