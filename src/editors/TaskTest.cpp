// The task test: what the task uses, what is wrong with it, and whether its query runs.
#include "editors/TaskTest.h"

#include "platform/text/CaseFold.h"
#include "speech/Patterns.h"

#include <filesystem>
#include <system_error>

namespace peltra::editors {

namespace {

constexpr char kRule[] = "=================================================";

class ReportWriter {
public:
    ReportWriter(TaskTestReport& report, const std::function<void(const std::string&)>& onLine)
        : m_report(report), m_onLine(onLine)
    {
    }

    void line(const std::string& text)
    {
        m_report.lines.push_back(text);
        if (m_onLine)
            m_onLine(text);
    }
    void critical(const std::string& finding)
    {
        m_report.critical = true;
        line(kCriticalPrefix + finding);
    }
    void warning(const std::string& finding)
    {
        m_report.warning = true;
        line(kWarningPrefix + finding);
    }

private:
    TaskTestReport& m_report;
    const std::function<void(const std::string&)>& m_onLine;
};

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

void reportFilter(ReportWriter& out, config::Operator& task, const config::TaskDefinition& definition)
{
    switch (definition.typefilter) {
    case config::kFilterRanges:
        out.line("Фильтр по диапазонам поля " + task.rangeField() + ":");
        if (definition.filterText.empty())
            out.warning(" Назначен фильтр по диапазонам, но не определены диапазоны!");
        else
            out.line(definition.filterText);
        break;
    case config::kFilterCondition:
        out.line("Фильтр - логическое условие:");
        if (definition.filterText.empty())
            out.warning(" Назначен фильтр по логическому условию, но не определено условие!");
        else
            out.line(definition.filterText);
        break;
    default:
        out.line("Фильтр не назначен.");
        break;
    }
}

void reportRedialing(ReportWriter& out, const config::TaskDefinition& definition)
{
    out.line("");
    out.line(definition.retryMinute == 0 ? std::string("Повторный звонок после неудачной попытки: без ожидания.")
                                         : "Повторный звонок после неудачной попытки: не ранее, чем через " +
                                               std::to_string(definition.retryMinute) + " мин.");
    out.line(definition.maxAttempts == 0 ? std::string("Попыток дозвона по строке: без ограничения.")
                                         : "Попыток дозвона по строке: не более " +
                                               std::to_string(definition.maxAttempts) + ".");
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    const std::filesystem::path left = std::filesystem::weakly_canonical(a, error);
    if (error)
        return false;
    const std::filesystem::path right = std::filesystem::weakly_canonical(b, error);
    return !error && left == right;
}

// Another included task on the same table calls the same people: the station keeps one number
// off two lines at once, but the operator should know that both tasks call it.
void reportSharedTable(ReportWriter& out, config::TaskStore& tasks, const config::TaskDefinition& definition)
{
    if (definition.file.empty())
        return;
    for (const config::TaskDefinition& other : tasks.definitions()) {
        const bool self = platform::foldCase(other.binding) == platform::foldCase(definition.binding) &&
                          platform::foldCase(other.task) == platform::foldCase(definition.task);
        if (self || !other.valid || other.file.empty() || !sameFile(other.file, definition.file))
            continue;
        out.warning(" Этот же файл использует включенное в планирование задание " +
                    inQuotes(other.binding + "\\" + other.task) +
                    ": номер, который занят звонком одного задания, другое пропускает до конца звонка.");
    }
}

void reportSchedules(ReportWriter& out, config::Operator& task)
{
    out.line("");
    out.line("Расписания:");
    const std::vector<config::ScheduleData> schedules = task.schedules().all();
    if (schedules.empty())
        out.critical(" Не начначено расписание.");
    int position = 0;
    for (const config::ScheduleData& schedule : schedules)
        out.line(std::to_string(++position) + ": " + config::scheduleText(schedule.block, schedule.monthMask));
}

void reportTemplate(ReportWriter& out, config::TaskStore& tasks, const config::TaskDefinition& definition)
{
    out.line("");
    out.line("Шаблон речевого оповещения:");
    speech::Patterns patterns(tasks.store(), definition.binding, definition.task);
    std::vector<speech::PatternItem> items;
    patterns.Load(items);
    if (items.empty())
        out.critical(" В речевом шаблоне нет ни одной фразы.");
    else
        out.line("В речевом шаблоне находится " + std::to_string(items.size()) + " фраз");
}

void reportQuery(ReportWriter& out, TaskTestReport& report, const config::TaskDefinition& definition)
{
    out.line("");
    out.line("Выполнение SQL запроса...");
    std::error_code error;
    const std::filesystem::path file(definition.file);
    bool ok = false;
    if (definition.file.empty() || !std::filesystem::is_regular_file(file, error)) {
        out.line("Не найден файл: " + definition.file);
    } else {
        report.query = data::runQueryCheck(file, definition.filterText, definition.fieldSort, definition.ascend,
                                           definition.codePage);
        report.queryRun = true;
        ok = report.query.ok;
    }
    if (ok)
        out.line("Запрос выполнен успешно.");
    else
        out.critical(" Ошибка выполнения SQL запроса.");
    // A column that cannot take a call's result would lose every result written into it.
    if (report.queryRun)
        for (const data::UnfitColumn& column : data::unfitResultColumns(file))
            out.critical(" " + data::unfitColumnText(column) + ".");
}

void reportVerdict(ReportWriter& out, const TaskTestReport& report)
{
    out.line("Тест окончен.");
    out.line(kRule);
    if (report.critical) {
        out.line("В процессе тестирования обнаружены критические ошибки.");
        out.line("Задание не может быть включенным в планирование.");
    } else if (report.warning) {
        out.line("В процессе тестирования обнаружены некритические ошибки.");
        out.line("Перед включением задания в планирование рекомендуется проверить его параметры.");
    } else {
        out.line("Ошибок не обнаружено.");
        out.line("Задание может быть включенным в планирование.");
    }
}

// The parts of a definition the test looks at: its table, order, filter and schedules.
std::string testedState(config::Operator& task)
{
    const config::TaskDefinition d = task.definition();
    std::string state = d.file + '\n' + d.fieldSort + '\n' + d.fieldSortType + '\n' + (d.ascend ? "1" : "0") + '\n' +
                        std::to_string(d.typefilter) + '\n' + d.filterText + '\n';
    for (const config::ScheduleData& schedule : task.schedules().all())
        state += schedule.name + ' ' + config::scheduleText(schedule.block, schedule.monthMask) + '\n';
    return state;
}

}  // namespace

IncludeResult includeTestedTask(config::TaskStore& tasks, const TaskTestReport& report)
{
    if (!report.passed())
        return IncludeResult::Refused;
    std::optional<config::Operator> task = tasks.task(report.binding, report.task);
    if (!task)
        return IncludeResult::Failed;
    bool changed = false;
    const bool ok = tasks.store().registry().transaction([&] {
        changed = testedState(*task) != report.testedState;
        return !changed && task->setValid(true);
    });
    if (changed)
        return IncludeResult::Changed;
    return ok ? IncludeResult::Included : IncludeResult::Failed;
}

TaskTestReport runTaskTest(config::TaskStore& tasks, const std::string& binding, const std::string& task,
                           const std::function<void(const std::string&)>& onLine)
{
    TaskTestReport report;
    report.binding = binding;
    report.task = task;
    ReportWriter out(report, onLine);
    std::optional<config::Operator> found = tasks.task(binding, task);
    if (found)
        report.testedState = testedState(*found);
    config::TaskDefinition definition;
    definition.binding = binding;
    definition.task = task;
    if (found)
        definition = found->definition();
    else if (std::optional<config::Task> bound = tasks.binding(binding))
        definition.file = bound->file();

    out.line("База данных: " + inQuotes(binding));
    out.line("Файл: " + inQuotes(definition.file));
    out.line("Задание: " + inQuotes(task));
    out.line(kRule);
    if (!found) {
        out.critical(" Задание не найдено.");
        reportVerdict(out, report);
        return report;
    }

    out.line(std::string("Сортировка: ") + (definition.ascend ? "по возрастанию " : "по убыванию ") + "поля " +
             inQuotes(definition.fieldSort));
    out.line("");
    reportFilter(out, *found, definition);
    reportRedialing(out, definition);
    reportSchedules(out, *found);
    reportTemplate(out, tasks, definition);
    reportQuery(out, report, definition);
    reportSharedTable(out, tasks, definition);
    reportVerdict(out, report);
    return report;
}

}  // namespace peltra::editors
