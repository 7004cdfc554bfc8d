// The task test report over a table python3-dbf writes: its lines, findings, verdict, selected rows, including.
#include "editors/TaskTest.h"

#include "SoundTask.h"
#include "speech/Patterns.h"
#include "support/PythonDbf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

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
        const std::vector<Lines> parts =
            found ? std::vector<Lines>{{sort, ""}, filter, {""}, redialing, {"", "Расписания:"}, schedules,
                                       {"", "Шаблон речевого оповещения:"}, pattern, {"", "Выполнение SQL запроса..."},
                                       query, shared, {"Тест окончен.", kRule}}
                  : std::vector<Lines>{{kCritical + " Задание не найдено.", "Тест окончен.", kRule}};
        for (const Lines& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        // The verdict follows from the findings alone: any critical one bars the task.
        const Lines verdict =
            anyStarts(out, kCritical)  ? Lines{"В процессе тестирования обнаружены критические ошибки.",
                                               "Задание не может быть включенным в планирование."}
            : anyStarts(out, kWarning) ? Lines{"В процессе тестирования обнаружены некритические ошибки.",
                                               "Перед включением задания в планирование рекомендуется проверить его параметры."}
                                       : Lines{"Ошибок не обнаружено.", "Задание может быть включенным в планирование."};
        out.insert(out.end(), verdict.begin(), verdict.end());
        return out;
    }
};

// Runs the test as the window does: the lines, each handed to the watcher as written, and the flags.
TaskTestReport expectReport(SoundTask& fixture, const Expected& expected)
{
    Lines seen;
    TaskTestReport report = runTaskTest(fixture.tasks(), expected.binding, expected.task,
                                        [&](const std::string& line) { seen.push_back(line); });
    const Lines lines = expected.lines();
    EXPECT_EQ(report.lines, lines);
    EXPECT_EQ(seen, report.lines);
    EXPECT_EQ(std::pair(report.critical, report.warning), std::pair(anyStarts(lines, kCritical), anyStarts(lines, kWarning)));
    return report;
}

void setCondition(config::Operator task, const config::SimpleCondition& condition)
{
    config::ConditionSet set = task.conditions();
    set.products[set.addProduct()].add(condition);
    ASSERT_TRUE(task.applyConditions(set) && task.setNumber(TaskProperty::Typefilter, config::kFilterCondition));
}

void setRanges(config::Operator task, const std::vector<std::pair<double, double>>& ranges)
{
    ASSERT_TRUE(task.setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    for (const auto& [low, high] : ranges)
        ASSERT_TRUE(task.addRange(low, high));
}

// One thing spoiled in the sound task, what the report says of it, and the TELEFs selected (if given).
struct Case { const char* name; std::function<void(SoundTask&)> spoil; std::function<void(Expected&)> expect; Lines phones = {}; };

const std::string kNoSchedule = kCritical + " Не начначено расписание.";
const Lines kAllRows = {"2002", "2001", "2003", "2004"};

void removePhrases(SoundTask& s, const Lines& keys)
{
    speech::Patterns patterns(s.store(), SoundTask::kBinding, SoundTask::kTask);
    for (const std::string& key : keys)
        ASSERT_TRUE(patterns.Remove(key)) << key;
}

const Case kCases[] = {
    {"sound", [](SoundTask&) {}, [](Expected&) {}, kAllRows},
    {"descending", [](SoundTask& s) { ASSERT_EQ(s.task().setSort("SUMMA", "N", false), Change::Changed); },
     [](Expected& e) { e.sort = "Сортировка: по убыванию поля \"SUMMA\""; }, {"2004", "2003", "2001", "2002"}},
    {"pause only", [](SoundTask& s) { ASSERT_TRUE(s.task().setNumber(TaskProperty::RetryMinute, 30)); },
     [](Expected& e) { e.redialing[0] = "Повторный звонок после неудачной попытки: не ранее, чем через 30 мин."; }},
    {"attempts only", [](SoundTask& s) { ASSERT_TRUE(s.task().setNumber(TaskProperty::MaxAttempts, 5)); },
     [](Expected& e) { e.redialing[1] = "Попыток дозвона по строке: не более 5."; }},
    {"no schedule", [](SoundTask& s) { ASSERT_TRUE(s.task().schedules().remove("0001")); }, [](Expected& e) { e.schedules = {kNoSchedule}; }},
    {"schedules by position", [](SoundTask& s) {
         std::array<std::optional<config::DayWindow>, 7> monday{};
         monday[1] = config::DayWindow{9 * 3600, 24 * 3600};
         ASSERT_TRUE(s.task().schedules().add(config::weeklyBlock(monday), 0x80000003u, true));
         ASSERT_TRUE(s.task().schedules().add({{}, 30}, 0, false));
     }, [](Expected& e) {
         e.schedules = {"1: Ежедневно: 08:00-20:00; ", "2: 1,2 числа каждого м-ца: Пн:09:00-24:00; ", "3: "};
     }},
    {"one phrase", [](SoundTask& s) { removePhrases(s, {"0001", "0003"}); }, [](Expected& e) { e.pattern = {"В речевом шаблоне находится 1 фраз"}; }},
    {"empty template", [](SoundTask& s) { removePhrases(s, {"0001", "0002", "0003"}); },
     [](Expected& e) { e.pattern = {kCritical + " В речевом шаблоне нет ни одной фразы."}; }},
    {"ranges without ranges", [](SoundTask& s) { setRanges(s.task(), {}); }, [](Expected& e) {
         e.filter = {"Фильтр по диапазонам поля SUMMA:",
                     kWarning + " Назначен фильтр по диапазонам, но не определены диапазоны!"};
     }, kAllRows},
    {"ranges", [](SoundTask& s) { setRanges(s.task(), {{1, 100}, {600, 500}}); }, [](Expected& e) {
         e.filter = {"Фильтр по диапазонам поля SUMMA:", "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=500 AND SUMMA<=600"};
     },
     {"2002", "2003"}},
    {"warning and critical", [](SoundTask& s) {
         ASSERT_TRUE(s.task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
         ASSERT_TRUE(s.task().schedules().remove("0001"));
     }, [](Expected& e) {
         e.filter = {"Фильтр - логическое условие:", kWarning + " Назначен фильтр по логическому условию, но не определено условие!"};
         e.schedules = {kNoSchedule};
     }},
    // The negated like of the condition editor: the rows whose FIO does not begin with ИВ, any case.
    {"negated like", [](SoundTask& s) { setCondition(s.task(), {config::kConditionCompare, "FIO", 1, "'ИВ%'", ""}); },
     [](Expected& e) { e.filter = {"Фильтр - логическое условие:", "FIO NotLike 'ИВ%'"}; }, {"2002", "2004"}},
    {"query fails",
     [](SoundTask& s) { setCondition(s.task(), {config::kConditionExpression, "", 2, "", "NOSUCHFIELD > 1"}); },
     [](Expected& e) { e.filter = {"Фильтр - логическое условие:", "NOSUCHFIELD > 1"}, e.query = {kQueryFailed}; }},
    {"unfit result columns", [](SoundTask& s) {
         std::filesystem::remove(s.table());
         test::writeTableByPython(s.table(), "TELEF C(12); PROBA C(3); OTBOJ N(3,0); DATA D; CLOCK C(5); SUMMA N(10,0)",
                                  {}, "cp866", false);
     }, [](Expected& e) {
         e.query = {"Запрос выполнен успешно.",
                    kCritical + " Поле PROBA (C3) не может принять результат звонка: нужно Num.",
                    kCritical + " Поле CLOCK (C5) не может принять результат звонка: нужно Char (8)."};
     }},
    {"missing table", [](SoundTask& s) { std::filesystem::remove(s.table()); },
     [](Expected& e) { e.query = {"Не найден файл: " + e.file, kQueryFailed}; }},
    {"no such task", [](SoundTask&) {}, [](Expected& e) { e.task = "Нет такого", e.found = false; }},
    {"no such binding", [](SoundTask&) {}, [](Expected& e) { e.binding = "Нет такой", e.file.clear(), e.found = false; }},
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
        Lines phones;
        for (const auto& row : report.query.rows)
            phones.push_back(row.empty() ? "?" : row[0]);
        EXPECT_TRUE(c.phones.empty() || phones == c.phones) << testing::PrintToString(phones);
        EXPECT_EQ(std::pair(fixture.tasks().bindingNames(), config::Operators(fixture.store(), SoundTask::kBinding).names()),
                  std::pair(Lines{SoundTask::kBinding}, Lines{SoundTask::kTask})) << "the test makes nothing";
    }
}

// Another included task on the same table through a link calls the same people; excluded ones do not count.
TEST(TaskTestTest, AnotherIncludedTaskOnTheSameFileIsAWarning)
{
    SoundTask fixture;
    ASSERT_EQ(fixture.error(), "");
    const std::filesystem::path link = fixture.folder() / "link.dbf";
    std::filesystem::create_symlink(fixture.table(), link);
    ASSERT_EQ(fixture.tasks().addBinding("Копия", link.string(), ""), config::AddResult::Added);
    for (const char* name : {"Включено", "Выключено"})
        ASSERT_EQ(config::Operators(fixture.store(), "Копия").add(name), config::AddResult::Added);
    ASSERT_TRUE(fixture.tasks().task("Копия", "Включено")->setValid(true) && fixture.task().setValid(true));

    Expected expected;
    expected.file = fixture.table().string();
    expected.shared = {kWarning + " Этот же файл использует включенное в планирование задание \"Копия\\Включено\": "
                                  "номер, который занят звонком одного задания, другое пропускает до конца звонка."};
    expectReport(fixture, expected);
    ASSERT_TRUE(fixture.tasks().task("Копия", "Включено")->setValid(false));
    expected.shared.clear();
    expectReport(fixture, expected);
}

// Included only as tested: a failed test or a change to what it looked at leaves the task excluded.
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
    ASSERT_TRUE(fixture.task().setNumber(TaskProperty::Behaviour, config::kStartFromBeginning));  // not tested
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Included);
    EXPECT_TRUE(fixture.task().valid());

    ASSERT_TRUE(config::Operators(fixture.store(), SoundTask::kBinding).remove(SoundTask::kTask));
    EXPECT_EQ(includeTestedTask(tasks, passed), IncludeResult::Failed);
    EXPECT_FALSE(tasks.task(SoundTask::kBinding, SoundTask::kTask)) << "including never makes the task again";
}

}  // namespace
}  // namespace peltra::editors
