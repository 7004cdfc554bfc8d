// The task test report: its lines in order for a sound task, each finding in its place, the
// verdicts, and the query run against a real table.
#include "editors/TaskTest.h"

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Patterns.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace peltra::editors {
namespace {

using config::Change;
using config::TaskProperty;
using Lines = std::vector<std::string>;

constexpr char kBinding[] = "Абоненты";
constexpr char kTask[] = "Долг";
const std::string kRule = "=================================================";
const std::string kCritical = "!!!!! Критическая ошибка !!!!!";
const std::string kWarning = "!!!!! Предупреждение !!!!!";
const Lines kVerdictClean = {"Ошибок не обнаружено.", "Задание может быть включенным в планирование."};
const Lines kVerdictWarning = {"В процессе тестирования обнаружены некритические ошибки.",
                               "Перед включением задания в планирование рекомендуется проверить его параметры."};
const Lines kVerdictCritical = {"В процессе тестирования обнаружены критические ошибки.",
                                "Задание не может быть включенным в планирование."};
const std::string kQueryFailed = kCritical + " Ошибка выполнения SQL запроса.";

// The parts of a report that change from case to case; the defaults are those of a sound task.
struct Expected {
    std::string file;
    std::string sort = "Сортировка: по возрастанию поля \"SUMMA\"";
    Lines filter = {"Фильтр не назначен."};
    Lines redialing = {"Повторный звонок после неудачной попытки: без ожидания.",
                       "Попыток дозвона по строке: без ограничения."};
    Lines schedules = {"1: Ежедневно: 08:00-20:00; "};
    Lines pattern = {"В речевом шаблоне находится 3 фраз"};
    Lines query = {"Запрос выполнен успешно."};
    Lines shared;
    Lines verdict = kVerdictClean;
    std::string task = kTask;

    Lines lines() const
    {
        Lines out = {"База данных: \"" + std::string(kBinding) + "\"", "Файл: \"" + file + "\"",
                     "Задание: \"" + task + "\"", kRule, sort, ""};
        const auto append = [&](const Lines& more) { out.insert(out.end(), more.begin(), more.end()); };
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
        append({"Тест окончен.", kRule});
        append(verdict);
        return out;
    }
};

// A table with the columns a source needs, a sound task on it: sorted by SUMMA, a daily
// schedule, a template of three items. Each test then spoils one thing.
class TaskTestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The template's named lock lives in a runtime folder of the test's own.
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_savedRuntime = old;
        setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);

        makeTable();
        ASSERT_EQ(m_tasks.addBinding(kBinding, m_table.string(), ""), config::AddResult::Added);
        ASSERT_EQ(config::Operators(m_store, kBinding).add(kTask), config::AddResult::Added);
        ASSERT_EQ(task().setSort("SUMMA", "N", true), Change::Changed);
        ASSERT_TRUE(task().schedules().add(config::dailyBlock({8 * 3600, 20 * 3600}), 0, false));
        speech::Patterns patterns(m_store, kBinding, kTask);
        ASSERT_TRUE(patterns.isOpen()) << patterns.openError();
        speech::PatternItem item;
        item.path = "Фразы\\Здравствуйте";
        ASSERT_EQ(patterns.Insert("", item), "0001");
        item.path = "Функции\\Гривны";
        item.arg = "SUMMA";
        ASSERT_EQ(patterns.Insert("0001", item), "0002");
        item.path = "Фразы\\Конец";
        item.arg = "";
        ASSERT_EQ(patterns.Insert("0002", item), "0003");
        m_expected.file = m_table.string();
    }
    void TearDown() override
    {
        if (m_savedRuntime)
            setenv("XDG_RUNTIME_DIR", m_savedRuntime->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

    void makeTable()
    {
        const std::vector<data::DbfFieldSpec> fields = {
            {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
            {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 20, 0},   {"SUMMA", 'N', 10, 0}};
        std::string error;
        ASSERT_TRUE(data::DbfTable::create(m_table, fields, 866, true, &error)) << error;
        data::DbfTable::Options options;
        options.writable = true;
        auto table = data::DbfTable::open(m_table, options, &error);
        ASSERT_TRUE(table) << error;
        const struct {
            const char* telef;
            const char* fio;
            double summa;
        } rows[] = {
            {"2001", "Иванов", 150}, {"2002", "Петров", 50}, {"2003", "ивашкин", 550}, {"2004", "Сидоров", 1000}};
        for (const auto& r : rows) {
            ASSERT_TRUE(table->append({{0, data::DbfValue::ofText(r.telef)},
                                       {1, data::DbfValue::ofNumber(0)},
                                       {5, data::DbfValue::ofText(r.fio)},
                                       {6, data::DbfValue::ofNumber(r.summa)}},
                                      nullptr, &error))
                << error;
        }
    }

    config::Operator task() { return *m_tasks.task(kBinding, kTask); }

    void setCondition(const std::string& expressionText)
    {
        config::ConditionSet set = task().conditions();
        set.products[set.addProduct()].add({config::kConditionExpression, "", 2, "", expressionText});
        ASSERT_TRUE(task().applyConditions(set));
        ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    }

    TaskTestReport run() { return runTaskTest(m_tasks, kBinding, kTask); }

    // The TELEF of each row the query selected, in order.
    static Lines phones(const TaskTestReport& report)
    {
        Lines out;
        for (const auto& row : report.query.rows)
            out.push_back(row.empty() ? "?" : row[0]);
        return out;
    }

    test::TempDir m_runtime;
    std::optional<std::string> m_savedRuntime;
    test::TempDir m_dir;
    std::filesystem::path m_table = m_dir / "abon.dbf";
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    config::TaskStore m_tasks{m_store};
    Expected m_expected;
};

TEST_F(TaskTestTest, ASoundTaskPasses)
{
    const TaskTestReport report = run();
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_FALSE(report.critical);
    EXPECT_FALSE(report.warning);
    EXPECT_TRUE(report.passed());
    ASSERT_TRUE(report.queryRun);
    EXPECT_TRUE(report.query.ok) << report.query.message;
    EXPECT_EQ(phones(report), (Lines{"2002", "2001", "2003", "2004"})) << "ordered by SUMMA ascending";
}

TEST_F(TaskTestTest, RedialingIsReportedAndAnotherIncludedTaskOnTheSameFileIsAWarning)
{
    ASSERT_TRUE(task().setNumber(TaskProperty::RetryMinute, 30));
    ASSERT_TRUE(task().setNumber(TaskProperty::MaxAttempts, 5));
    // Another binding reaches the same file by a link; of its two tasks only one is included.
    const std::filesystem::path link = m_dir / "link.dbf";
    std::filesystem::create_symlink(m_table, link);
    ASSERT_EQ(m_tasks.addBinding("Копия", link.string(), ""), config::AddResult::Added);
    for (const char* name : {"Включено", "Выключено"})
        ASSERT_EQ(config::Operators(m_store, "Копия").add(name), config::AddResult::Added);
    ASSERT_TRUE(m_tasks.task("Копия", "Включено")->setValid(true));
    ASSERT_TRUE(task().setValid(true)) << "the tested task itself is no other task";

    m_expected.redialing = {"Повторный звонок после неудачной попытки: не ранее, чем через 30 мин.",
                            "Попыток дозвона по строке: не более 5."};
    m_expected.shared = {kWarning + " Этот же файл использует включенное в планирование задание \"Копия\\Включено\": "
                                    "номер, который занят звонком одного задания, другое пропускает до конца звонка."};
    m_expected.verdict = kVerdictWarning;
    EXPECT_EQ(run().lines, m_expected.lines());

    ASSERT_TRUE(m_tasks.task("Копия", "Включено")->setValid(false));
    m_expected.shared.clear();
    m_expected.verdict = kVerdictClean;
    EXPECT_EQ(run().lines, m_expected.lines());
}

TEST_F(TaskTestTest, EveryLineGoesToTheWatcherAsItIsWritten)
{
    Lines seen;
    const TaskTestReport report = runTaskTest(m_tasks, kBinding, kTask, [&](const std::string& line) {
        seen.push_back(line);
    });
    EXPECT_EQ(seen, report.lines);
    EXPECT_EQ(seen, m_expected.lines());
}

TEST_F(TaskTestTest, NoScheduleIsCritical)
{
    ASSERT_TRUE(task().schedules().remove("0001"));
    const TaskTestReport report = run();
    m_expected.schedules = {kCritical + " Не начначено расписание."};
    m_expected.verdict = kVerdictCritical;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_TRUE(report.critical);
    EXPECT_FALSE(report.passed());
}

TEST_F(TaskTestTest, EverySchedulesTextIsListedByPosition)
{
    std::array<std::optional<config::DayWindow>, 7> monday{};
    monday[1] = config::DayWindow{9 * 3600, 24 * 3600};
    ASSERT_TRUE(task().schedules().add(config::weeklyBlock(monday), 0x80000003u, true));
    ASSERT_TRUE(task().schedules().add({{}, 30}, 0, false));
    m_expected.schedules = {"1: Ежедневно: 08:00-20:00; ", "2: 1,2 числа каждого м-ца: Пн:09:00-24:00; ", "3: "};
    EXPECT_EQ(run().lines, m_expected.lines());
}

TEST_F(TaskTestTest, RangesFilterWithoutRangesIsAWarning)
{
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    ASSERT_EQ(task().setRangeField("SUMMA", "N"), Change::Changed);
    const TaskTestReport report = run();
    m_expected.filter = {"Фильтр по диапазонам поля SUMMA:",
                         kWarning + " Назначен фильтр по диапазонам, но не определены диапазоны!"};
    m_expected.verdict = kVerdictWarning;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_FALSE(report.critical);
    EXPECT_TRUE(report.warning);
    EXPECT_TRUE(report.passed());
    EXPECT_EQ(phones(report).size(), 4u) << "no range, no filter";
}

TEST_F(TaskTestTest, RangesFilterSelectsTheRowsInsideTheBounds)
{
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    ASSERT_EQ(task().setRangeField("SUMMA", "N"), Change::Changed);
    ASSERT_TRUE(task().addRange(1, 100));
    ASSERT_TRUE(task().addRange(600, 500));
    const TaskTestReport report = run();
    m_expected.filter = {"Фильтр по диапазонам поля SUMMA:", "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=500 AND SUMMA<=600"};
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_TRUE(report.passed());
    EXPECT_EQ(phones(report), (Lines{"2002", "2003"}));
}

TEST_F(TaskTestTest, ConditionFilterWithoutAConditionIsAWarning)
{
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    const TaskTestReport report = run();
    m_expected.filter = {"Фильтр - логическое условие:",
                         kWarning + " Назначен фильтр по логическому условию, но не определено условие!"};
    m_expected.verdict = kVerdictWarning;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_TRUE(report.warning);
    EXPECT_TRUE(report.passed());
}

TEST_F(TaskTestTest, TheNegatedLikeOfTheConditionEditorRuns)
{
    config::ConditionSet set;
    set.products[set.addProduct()].add({config::kConditionCompare, "FIO", 1, "'ИВ%'", ""});
    ASSERT_TRUE(task().applyConditions(set));
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    const TaskTestReport report = run();
    m_expected.filter = {"Фильтр - логическое условие:", "FIO NotLike 'ИВ%'"};
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_TRUE(report.query.ok) << report.query.message;
    EXPECT_EQ(phones(report), (Lines{"2002", "2004"})) << "the rows whose FIO does not begin with ИВ, any case";
}

TEST_F(TaskTestTest, AConditionTheQueryCannotRunIsCritical)
{
    setCondition("NOSUCHFIELD > 1");
    const TaskTestReport report = run();
    m_expected.filter = {"Фильтр - логическое условие:", "NOSUCHFIELD > 1"};
    m_expected.query = {kQueryFailed};
    m_expected.verdict = kVerdictCritical;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_TRUE(report.queryRun);
    EXPECT_FALSE(report.query.ok);
    EXPECT_FALSE(report.query.errors.empty());
    EXPECT_FALSE(report.passed());
}

TEST_F(TaskTestTest, AMissingTableIsReportedByItsPath)
{
    std::filesystem::remove(m_table);
    const TaskTestReport report = run();
    m_expected.query = {"Не найден файл: " + m_table.string(), kQueryFailed};
    m_expected.verdict = kVerdictCritical;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_FALSE(report.queryRun);
    EXPECT_FALSE(report.passed());

    // A binding without a table path, and a path that names a folder.
    for (const std::string& path : {std::string(), m_dir.path().string()}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(m_tasks.binding(kBinding)->setFile(path), Change::Changed);
        m_expected.file = path;
        m_expected.query = {"Не найден файл: " + path, kQueryFailed};
        EXPECT_EQ(run().lines, m_expected.lines());
    }
}

TEST_F(TaskTestTest, ColumnsThatCannotTakeTheResultsAreCritical)
{
    std::string error;
    ASSERT_TRUE(data::DbfTable::create(m_table,
                                       {{"TELEF", 'C', 12, 0}, {"PROBA", 'C', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                        {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 5, 0}, {"SUMMA", 'N', 10, 0}},
                                       866, true, &error))
        << error;
    const TaskTestReport report = run();
    m_expected.query = {"Запрос выполнен успешно.",
                        kCritical + " Поле PROBA (C3) не может принять результат звонка: нужно Num.",
                        kCritical + " Поле CLOCK (C5) не может принять результат звонка: нужно Char (8)."};
    m_expected.verdict = kVerdictCritical;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_FALSE(report.passed());
}

TEST_F(TaskTestTest, AnEmptyTemplateIsCriticalAndADescendingSortSaysSo)
{
    ASSERT_EQ(config::Operators(m_store, kBinding).add("Пусто"), config::AddResult::Added);
    auto empty = m_tasks.task(kBinding, "Пусто");
    ASSERT_TRUE(empty->schedules().add(config::dailyBlock({0, 86400}), 0, false));
    ASSERT_EQ(empty->setSort("SUMMA", "N", false), Change::Changed);
    const TaskTestReport report = runTaskTest(m_tasks, kBinding, "Пусто");
    m_expected.task = "Пусто";
    m_expected.sort = "Сортировка: по убыванию поля \"SUMMA\"";
    m_expected.schedules = {"1: Ежедневно: 00:00-24:00; "};
    m_expected.pattern = {kCritical + " В речевом шаблоне нет ни одной фразы."};
    m_expected.verdict = kVerdictCritical;
    EXPECT_EQ(report.lines, m_expected.lines());
    EXPECT_FALSE(report.passed());
    EXPECT_EQ(phones(report), (Lines{"2004", "2003", "2001", "2002"}));
}

TEST_F(TaskTestTest, ACriticalFindingOutweighsAWarning)
{
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    ASSERT_TRUE(task().schedules().remove("0001"));
    const TaskTestReport report = run();
    EXPECT_TRUE(report.warning);
    EXPECT_TRUE(report.critical);
    EXPECT_EQ(Lines(report.lines.end() - 2, report.lines.end()), kVerdictCritical);
}

TEST_F(TaskTestTest, ATaskThatIsNotThereIsCritical)
{
    for (const auto& [binding, name] : {std::pair<std::string, std::string>{kBinding, "Нет такого"},
                                        {"Нет такой", kTask},
                                        {kBinding, ""}}) {
        SCOPED_TRACE(binding + " / " + name);
        Lines seen;
        const TaskTestReport report =
            runTaskTest(m_tasks, binding, name, [&](const std::string& line) { seen.push_back(line); });
        ASSERT_GE(report.lines.size(), 5u);
        EXPECT_EQ(report.lines[0], "База данных: \"" + binding + "\"");
        EXPECT_EQ(report.lines[2], "Задание: \"" + name + "\"");
        EXPECT_EQ(report.lines[4], kCritical + " Задание не найдено.");
        EXPECT_EQ(Lines(report.lines.end() - 2, report.lines.end()), kVerdictCritical);
        EXPECT_FALSE(report.passed());
        EXPECT_FALSE(report.queryRun);
        EXPECT_EQ(seen, report.lines);
    }
    EXPECT_EQ(m_tasks.bindingNames(), (Lines{kBinding})) << "the test makes nothing";
    EXPECT_EQ(config::Operators(m_store, kBinding).names(), (Lines{kTask}));
}

// A task is included only as it was tested: a failed test, or a change of what the test looked
// at made meanwhile, leaves it excluded; a change of something the test does not look at does not.
TEST_F(TaskTestTest, IncludedOnlyWhenPassedAndUnchangedSinceTheTest)
{
    ASSERT_TRUE(task().schedules().remove("0001"));
    const TaskTestReport failed = run();
    EXPECT_EQ(includeTestedTask(m_tasks, failed), IncludeResult::Refused);
    EXPECT_FALSE(task().valid());

    ASSERT_TRUE(task().schedules().add(config::dailyBlock({8 * 3600, 20 * 3600}), 0, false));
    const TaskTestReport passed = run();
    ASSERT_TRUE(passed.passed());
    ASSERT_TRUE(task().schedules().add(config::dailyBlock({9 * 3600, 10 * 3600}), 0, false));
    EXPECT_EQ(includeTestedTask(m_tasks, passed), IncludeResult::Changed);
    EXPECT_FALSE(task().valid());

    const TaskTestReport again = run();
    ASSERT_TRUE(task().setNumber(config::TaskProperty::Behaviour, config::kStartFromBeginning));
    EXPECT_EQ(includeTestedTask(m_tasks, again), IncludeResult::Included);
    EXPECT_TRUE(task().valid());

    ASSERT_TRUE(config::Operators(m_store, kBinding).remove(kTask));
    EXPECT_EQ(includeTestedTask(m_tasks, again), IncludeResult::Failed);
    EXPECT_FALSE(m_tasks.task(kBinding, kTask)) << "including never makes the task again";
}

}  // namespace
}  // namespace peltra::editors
