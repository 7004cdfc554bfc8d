// The task data source on real .dbf tables: the selection, the hand-out order, the rows out on
// lines, the write-back of every outcome, repeats, the restart point, the archive and tables
// changed or taken away by others while a task runs: rows packed away and the table's writer
// lock held by another program (python3-dbf and a python process), results a column or a
// read-only table cannot take; and unmarked tables in code page 1251.
#include "engine/TaskDataSource.h"

#include "engine/EngineTables.h"
#include "platform/registry/RegistryStore.h"
#include "support/HeldTableLock.h"
#include "support/PythonDbf.h"
#include "support/ReadOnlyFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>

namespace peltra::engine {
namespace {

namespace fs = std::filesystem;
using config::TaskProperty;

constexpr char kBinding[] = "Абоненты";
constexpr char kTask[] = "Долг";

using test::Person;
using test::Stored;
using test::localMoment;

class TaskDataSourceTest : public ::testing::Test {
protected:
    void SetUp() override { test::addDebtPhrases(m_store); }

    static void makeTable(const std::vector<Person>& people, const fs::path& path) { test::makeDebtTable(path, people); }
    static std::unique_ptr<data::DbfTable> writable(const fs::path& path) { return test::writableTable(path); }

    // A task on the table: sorted by SUMMA, template "ZADL" then the sum in roubles.
    void defineTask(bool ascending = true)
    {
        test::defineDebtTask(m_store, kBinding, kTask, m_table, {0, config::kSecondsPerDay}, ascending);
    }

    // The table of people and the task on it.
    void prepare(const std::vector<Person>& people)
    {
        makeTable(people, m_table);
        defineTask();
    }

    config::Operator task() { return *m_tasks.task(kBinding, kTask); }

    // A python3-dbf script on the table (sys.argv[1]).
    test::ProgramResult python(const std::string& script)
    {
        return test::runPythonDbf(script, {m_table.string()}, m_dir / "python");
    }

    // Sets fields of one record, as another program would.
    void setFields(std::uint32_t record, const data::DbfFieldValues& values)
    {
        std::string error;
        ASSERT_TRUE(writable(m_table)->update(record, values, &error)) << error;
    }

    // A source with the definition as stored now, on the test's clock.
    std::unique_ptr<TaskDataSource> source()
    {
        auto made = std::make_unique<TaskDataSource>(m_store);
        made->setDefinition(task().definition());
        made->setClock([this] { return m_now; });
        return made;
    }

    static std::vector<Stored> stored(const fs::path& path) { return test::readStored(path); }

    // Hands out every row there is now; the phones in order.
    static std::vector<std::string> drain(TaskDataSource& source, std::vector<long long>* rows = nullptr)
    {
        std::vector<std::string> phones;
        HandOut out;
        while (source.nextRow(out) == 0) {
            phones.push_back(out.phone);
            if (rows)
                rows->push_back(out.row);
        }
        return phones;
    }

    test::TempDir m_runtime;
    test::ScopedRuntimeDir m_runtimeDir{m_runtime.path()};
    test::TempDir m_dir;
    fs::path m_table = m_dir / "abon.dbf";
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    config::TaskStore m_tasks{m_store};
    std::time_t m_now = localMoment(2026, 12, 7, 10, 0, 0);
};

TEST_F(TaskDataSourceTest, SelectsAsTheStationAlwaysHasAndHandsOutInSortOrder)
{
    prepare({{"2001", 150}, {"2002", 50}, {"2003", 550}, {"2004", 1000}});
    ASSERT_TRUE(task().setRangeField("SUMMA", "N") != config::Change::NotFound);
    ASSERT_TRUE(task().addRange(100, 600));
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    auto s = source();
    ASSERT_TRUE(s->open()) << s->lastError();
    EXPECT_EQ(s->statement(), "SELECT telef,proba,otboj,data,clock,SUMMA,SUMMA FROM abon WHERE  data IS NULL  AND "
                              "(SUMMA>=100 AND SUMMA<=600)  ORDER BY SUMMA ASC");
    EXPECT_EQ(s->recordCount(), 2);

    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    EXPECT_EQ(out.phone, "2001");
    EXPECT_EQ(out.definitionPath, "Абоненты\\Долг");
    EXPECT_EQ(out.phrases, (speech::PhraseList{"ZADL", "_100", "_050", "__PS", "+RRE"}));
    EXPECT_EQ(task().text(TaskProperty::Phonelast), "150") << "the restart point follows the hand-out";
    ASSERT_EQ(s->nextRow(out), 0);
    EXPECT_EQ(out.phone, "2003");
    // Both rows are out on lines: a third line gets nothing, and the task stays open.
    EXPECT_EQ(s->nextRow(out), 1);
    EXPECT_TRUE(s->isOpen());
    EXPECT_EQ(s->rowsOut(), 2u);
}

TEST_F(TaskDataSourceTest, RepeatSelectionKeepsTheFilterAndATaskWithoutSortField)
{
    std::vector<Person> people;
    for (int i = 1; i <= 12; ++i)
        people.push_back({std::to_string(2000 + i), 10.0 * i});
    makeTable(people, m_table);
    defineTask();
    ASSERT_EQ(task().setSort("", "", true), config::Change::Changed);
    ASSERT_TRUE(task().setNumber(TaskProperty::Repeat, 1));
    ASSERT_TRUE(task().setText(TaskProperty::RepeatField, "KOL"));
    ASSERT_TRUE(task().setNumber(TaskProperty::RepeatTimes, 3));
    ASSERT_TRUE(task().setRangeField("SUMMA", "N") != config::Change::NotFound);
    ASSERT_TRUE(task().addRange(30, 70));
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    auto s = source();
    ASSERT_TRUE(s->open()) << s->lastError();
    EXPECT_EQ(s->statement(), "SELECT telef,proba,otboj,data,clock,KOL,SUMMA FROM abon WHERE (KOL IS NULL OR KOL IS "
                              "NOT NULL AND KOL < 3) AND (SUMMA>=30 AND SUMMA<=70) ");
    // Every row's KOL is NULL: the range alone decides.
    EXPECT_EQ(drain(*s), (std::vector<std::string>{"2003", "2004", "2005", "2006", "2007"}));
}

TEST_F(TaskDataSourceTest, EveryOutcomeIsWrittenIntoItsRow)
{
    prepare({{"1", 10}, {"2", 20}, {"3", 30}, {"4", 40}, {"5", 50}});
    auto s = source();
    ASSERT_TRUE(s->open());
    std::vector<long long> rows;
    ASSERT_EQ(drain(*s, &rows), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    s->writeResult(rows[0], OutcomeKind::Notified);
    s->writeResult(rows[1], OutcomeKind::NoAnswer);
    s->writeResult(rows[2], OutcomeKind::HungUp);
    s->writeResult(rows[3], OutcomeKind::Error);
    s->writeResult(rows[4], OutcomeKind::LocalPhone);
    EXPECT_EQ(s->rowsOut(), 0u);
    EXPECT_EQ(s->notified(), 1u);

    const auto table = stored(m_table);
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0].proba, 1);
    EXPECT_EQ(table[0].otboj, 0) << "a blank OTBOJ is written back as 0";
    EXPECT_EQ(table[0].data, (data::DbfDate{2026, 12, 7}));
    EXPECT_EQ(table[0].clock, "10:00:00");
    EXPECT_EQ(table[1].proba, 1);
    EXPECT_FALSE(table[1].data);
    EXPECT_EQ(table[2].proba, 1);
    EXPECT_EQ(table[2].otboj, 1);
    EXPECT_FALSE(table[2].data);
    for (int i : {3, 4}) {
        EXPECT_EQ(table[i].proba, 0) << i;
        EXPECT_FALSE(table[i].otboj) << i;
        EXPECT_FALSE(table[i].data) << i;
    }
    // The rows not notified are called again on the next lap, in order.
    EXPECT_EQ(drain(*s), (std::vector<std::string>{"2", "3", "4", "5"}));
}

TEST_F(TaskDataSourceTest, ATableWithNothingLeftFinishesTheTask)
{
    prepare({{"1", 10}, {"2", 20}});
    auto s = source();
    ASSERT_TRUE(s->open());
    std::vector<long long> rows;
    drain(*s, &rows);
    for (long long row : rows)
        s->writeResult(row, OutcomeKind::Notified);
    HandOut out;
    EXPECT_EQ(s->nextRow(out), 1);
    EXPECT_TRUE(s->exhausted());
    EXPECT_FALSE(s->isOpen());
    EXPECT_FALSE(s->open()) << "a finished task does not open again";

    // Opened afresh over a table in which every row has DATA: nothing to do at all.
    auto again = source();
    EXPECT_TRUE(again->open());
    EXPECT_TRUE(again->exhausted());
    EXPECT_FALSE(again->isOpen());
    EXPECT_EQ(again->recordCount(), 0);
}

TEST_F(TaskDataSourceTest, RepeatsByDaysAndByMinutesComeDueOnTime)
{
    prepare({{"1", 10}});
    ASSERT_TRUE(task().setNumber(TaskProperty::Repeat, 1));
    ASSERT_TRUE(task().setText(TaskProperty::RepeatField, "KOL"));
    ASSERT_TRUE(task().setNumber(TaskProperty::RepeatTimes, 3));
    ASSERT_TRUE(task().setNumber(TaskProperty::RepeatDay, 1));

    // Notified yesterday at 23:59: due at 00:00 today, not before.
    m_now = localMoment(2026, 12, 6, 23, 59, 0);
    auto s = source();
    ASSERT_TRUE(s->open());
    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    s->writeResult(out.row, OutcomeKind::Notified);
    m_now = localMoment(2026, 12, 6, 23, 59, 59);
    EXPECT_EQ(s->nextRow(out), 1);
    EXPECT_TRUE(s->isOpen()) << "a repeat not yet due keeps the task open";
    m_now = localMoment(2026, 12, 7, 0, 0, 0);
    ASSERT_EQ(s->nextRow(out), 0);
    s->writeResult(out.row, OutcomeKind::Notified);
    EXPECT_EQ(stored(m_table)[0].count, 2);

    // By minutes: 15 minutes after DATA and CLOCK.
    ASSERT_TRUE(task().setNumber(TaskProperty::RepeatType, 1));
    auto minutes = source();
    ASSERT_TRUE(minutes->open());
    m_now = localMoment(2026, 12, 7, 0, 14, 59);
    EXPECT_EQ(minutes->nextRow(out), 1);
    m_now = localMoment(2026, 12, 7, 0, 15, 0);
    ASSERT_EQ(minutes->nextRow(out), 0);
    minutes->writeResult(out.row, OutcomeKind::Notified);
    // The third notification was the last: the task finishes.
    m_now = localMoment(2026, 12, 9, 0, 0, 0);
    EXPECT_EQ(minutes->nextRow(out), 1);
    EXPECT_TRUE(minutes->exhausted());
    EXPECT_EQ(stored(m_table)[0].count, 3);
    EXPECT_EQ(stored(m_table)[0].proba, 3);
}

TEST_F(TaskDataSourceTest, RetryMinuteWaitsAfterAFailedAttemptAcrossARestartAndMaxAttemptsEndsTheRow)
{
    prepare({{"1", 10}, {"2", 20}});
    ASSERT_TRUE(task().setNumber(TaskProperty::RetryMinute, 30));
    ASSERT_TRUE(task().setNumber(TaskProperty::MaxAttempts, 2));
    m_now = localMoment(2026, 12, 6, 23, 50, 0);
    auto s = source();
    ASSERT_TRUE(s->open());
    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    s->writeResult(out.row, OutcomeKind::NoAnswer);
    ASSERT_EQ(s->nextRow(out), 0);
    s->writeResult(out.row, OutcomeKind::HungUp);
    m_now = localMoment(2026, 12, 7, 0, 19, 59);
    EXPECT_EQ(s->nextRow(out), 1);
    EXPECT_TRUE(s->isOpen()) << "rows waiting for their next attempt keep the task open";
    // The attempt's time stands in CLOCK while DATA is empty, as another dBase program reads it.
    EXPECT_EQ(python("t=dbf.Table(sys.argv[1]); t.open()\n"
                     "for r in t: print(r.telef.strip(), int(r.proba), bool(r.data), r.clock)")
                  .out,
              "1 1 False 23:50:00\n2 1 False 23:50:00\n");

    // A restart keeps the wait (past midnight too), then calls each row up to its last attempt.
    auto again = source();
    ASSERT_TRUE(again->open());
    EXPECT_EQ(again->nextRow(out), 1);
    m_now = localMoment(2026, 12, 7, 0, 20, 0);
    std::vector<long long> rows;
    EXPECT_EQ(drain(*again, &rows), (std::vector<std::string>{"2", "1"})) << "from the restart point";
    for (long long row : rows)
        again->writeResult(row, OutcomeKind::NoAnswer);
    m_now = localMoment(2026, 12, 9, 0, 0, 0);
    EXPECT_EQ(again->nextRow(out), 1);
    EXPECT_TRUE(again->exhausted()) << "rows out of attempts leave nothing to call";
    for (const Stored& row : stored(m_table)) {
        EXPECT_EQ(row.proba, 2) << row.telef;
        EXPECT_FALSE(row.data) << row.telef;
    }

    // A higher limit, taken by the running task, leaves the rows to call again at once.
    again->setRedialLimits(0, 3);
    EXPECT_TRUE(again->open());
    EXPECT_EQ(drain(*again).size(), 2u);
}

TEST_F(TaskDataSourceTest, ARestartContinuesFromTheStoredPoint)
{
    prepare({{"1", 10}, {"2", 20}, {"3", 30}, {"4", 40}});
    auto first = source();
    ASSERT_TRUE(first->open());
    HandOut out;
    ASSERT_EQ(first->nextRow(out), 0);
    ASSERT_EQ(first->nextRow(out), 0);
    EXPECT_EQ(out.phone, "2");
    // The station stops with both rows unanswered; a new start goes on at the last row handed out.
    auto second = source();
    ASSERT_TRUE(second->open());
    EXPECT_EQ(drain(*second), (std::vector<std::string>{"2", "3", "4", "1"}));

    // Starting from the beginning of the list ignores the stored point.
    ASSERT_TRUE(task().setNumber(TaskProperty::Behaviour, config::kStartFromBeginning));
    auto third = source();
    ASSERT_TRUE(third->open());
    EXPECT_EQ(drain(*third), (std::vector<std::string>{"1", "2", "3", "4"}));

    // Descending: the first row at or below the point.
    ASSERT_TRUE(task().setNumber(TaskProperty::Behaviour, config::kContinueFromLast));
    ASSERT_EQ(task().setSort("SUMMA", "N", false), config::Change::Changed);
    ASSERT_TRUE(task().setText(TaskProperty::Phonelast, "25"));
    auto descending = source();
    ASSERT_TRUE(descending->open());
    EXPECT_EQ(drain(*descending), (std::vector<std::string>{"2", "1", "4", "3"}));
}

TEST_F(TaskDataSourceTest, AFreshDescendingSortStartsAtTheFirstRowOfItsOrder)
{
    prepare({{"1", 10}, {"2", 20}, {"3", 30}});
    using V = data::DbfValue;
    struct Case {
        const char* field;
        std::size_t column;
        const char* type;
        std::vector<V> values;       // rows 1, 2, 3
        std::vector<std::string> order;  // the phones, top of the order first
    };
    const std::vector<Case> cases = {
        // Above twelve nines, and negative floats: no start value may skip them.
        {"BIG", 9, "N", {V::ofNumber(5), V::ofNumber(2000000000000.0), V::ofNumber(7)}, {"2", "3", "1"}},
        {"FVAL", 7, "F", {V::ofNumber(30.25), V::ofNumber(-1), V::ofNumber(2)}, {"1", "3", "2"}},
        // "ё" sorts above "я" in the rows' order.
        {"FIO", 8, "C", {V::ofText("абв"), V::ofText("ёж"), V::ofText("яков")}, {"2", "3", "1"}},
        {"DAY", 10, "D", {V::ofDate({2026, 1, 5}), V::ofDate({2026, 3, 1}), V::ofDate({2025, 12, 31})}, {"2", "1", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        for (std::uint32_t row = 0; row < 3; ++row)
            setFields(row, {{c.column, c.values[row]}});
        ASSERT_EQ(task().setSort(c.field, c.type, false), config::Change::Changed);
        ASSERT_EQ(task().text(TaskProperty::Phonelast), config::phonelastStart(c.type, false));
        auto s = source();
        ASSERT_TRUE(s->open()) << s->lastError();
        EXPECT_EQ(drain(*s), c.order);
    }
}

TEST_F(TaskDataSourceTest, ArchiveAndBehaviourAreReadAsStoredWhenUsed)
{
    // A phone number holding a quote must not disturb the copy.
    prepare({{"1'1", 10}, {"2", 20}, {"3", 30}, {"4", 40}});
    ASSERT_TRUE(task().setNumber(TaskProperty::Behaviour, config::kStartFromBeginning));
    auto s = source();
    // Switched on while the task runs: no restart needed.
    const fs::path archive = m_dir / "done.dbf";
    ASSERT_TRUE(task().setNumber(TaskProperty::Arhive, 1));
    ASSERT_TRUE(task().setText(TaskProperty::ArhiveFile, archive.string()));
    ASSERT_TRUE(s->open());
    std::vector<long long> rows;
    ASSERT_EQ(drain(*s, &rows), (std::vector<std::string>{"1'1", "2", "3", "4"}));
    s->writeResult(rows[0], OutcomeKind::Notified);
    EXPECT_EQ(s->lastError(), "");
    const auto copied = stored(archive);
    ASSERT_EQ(copied.size(), 1u) << "created empty, then the row appended";
    EXPECT_EQ(copied[0].telef, "1'1");
    EXPECT_EQ(copied[0].proba, 1);
    EXPECT_EQ(copied[0].data, (data::DbfDate{2026, 12, 7}));
    EXPECT_EQ(stored(m_table).size(), 4u) << "the source keeps its rows";
    // An archive that cannot be made is said, not passed over.
    ASSERT_TRUE(task().setText(TaskProperty::ArhiveFile, (m_dir / "none" / "done.dbf").string()));
    s->writeResult(rows[1], OutcomeKind::Notified);
    EXPECT_TRUE(s->lastError().starts_with(std::string(kArchiveNotWritten) + " (запись 2, телефон 2): "))
        << s->lastError();
    EXPECT_TRUE(stored(m_table)[1].data) << "the row itself is written";

    // Taken up with "from the beginning", opened after the switch to "go on from the last row".
    auto again = source();
    ASSERT_TRUE(task().setNumber(TaskProperty::Behaviour, config::kContinueFromLast));
    ASSERT_TRUE(again->open());
    EXPECT_EQ(drain(*again), (std::vector<std::string>{"4", "3"}));
}

TEST_F(TaskDataSourceTest, ACounterAtItsColumnsLimitStaysThereAndTheRestIsWritten)
{
    makeTable({{"1", 10}, {"2", 20}}, m_table);
    setFields(0, {{1, data::DbfValue::ofNumber(999)}});
    setFields(1, {{1, data::DbfValue::ofNumber(999)}, {2, data::DbfValue::ofNumber(999)}});
    defineTask();
    auto s = source();
    ASSERT_TRUE(s->open());
    std::vector<long long> rows;
    drain(*s, &rows);
    s->writeResult(rows[0], OutcomeKind::Notified);
    s->writeResult(rows[1], OutcomeKind::HungUp);
    EXPECT_EQ(s->lastError(), "");
    // Read back by another program.
    const test::ProgramResult read = python("t=dbf.Table(sys.argv[1]); t.open()\n"
                                            "for r in t: print(r.telef.strip(), r.proba, r.otboj, r.data, r.clock)");
    EXPECT_EQ(read.out, "1 999 0 2026-12-07 10:00:00\n2 999 999 None         \n");
}

TEST_F(TaskDataSourceTest, ResultsTheTableCannotTakeAreReportedAndStopTheTask)
{
    // A CLOCK column too narrow for "HH:MM:SS": the task does not start calling.
    const fs::path narrow = m_dir / "narrow.dbf";
    std::string error;
    ASSERT_TRUE(data::DbfTable::create(narrow,
                                       {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                        {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 5, 0}, {"SUMMA", 'N', 10, 2}},
                                       866, true, &error))
        << error;
    ASSERT_TRUE(writable(narrow)->append({{0, data::DbfValue::ofText("1")}}, nullptr, &error)) << error;
    prepare({{"1", 10}, {"2", 20}, {"3", 30}});
    config::TaskDefinition definition = task().definition();
    definition.file = narrow.string();
    TaskDataSource onNarrow(m_store);
    onNarrow.setDefinition(definition);
    EXPECT_FALSE(onNarrow.open());
    EXPECT_EQ(onNarrow.lastError(), "Поле CLOCK (C5) не может принять результат звонка: нужно Char (8)");

    // A table that cannot be written: the table's own words, and no more calls.
    test::ReadOnlyFile readOnly(m_table);
    if (!readOnly.isReadOnly())
        GTEST_SKIP() << "the table cannot be made read-only here";
    auto s = source();
    ASSERT_TRUE(s->open()) << s->lastError();
    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    const long long first = out.row;
    ASSERT_EQ(s->nextRow(out), 0);
    s->writeResult(first, OutcomeKind::Notified);
    EXPECT_EQ(s->lastError(), std::string(kResultNotWritten) + " (запись 1, телефон 1): Table \"abon.dbf\": it was "
                                                               "opened for reading only");
    EXPECT_EQ(s->nextRow(out), 1) << "a task whose results are lost calls no one else";
    EXPECT_TRUE(s->isOpen()) << "the row still out on a line comes back first";
    s->writeResult(out.row, OutcomeKind::NoAnswer);
    EXPECT_FALSE(s->isOpen());
    EXPECT_FALSE(s->open()) << "not again until the task is restarted";
    EXPECT_NE(s->lastError().find("(запись 2, телефон 2)"), std::string::npos) << s->lastError();
}

TEST_F(TaskDataSourceTest, ResultsFindTheirRowsAfterAnotherProgramPacksTheTable)
{
    // Written by python3-dbf, packed by it while every row is out on a line.
    python("t=dbf.Table(sys.argv[1],'TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); SUMMA N(10,2)',"
           "codepage='cp866',dbf_type='db3')\n"
           "t.open(dbf.READ_WRITE)\n"
           "for i in range(6): t.append(('500%d'%i,0,None,None,'',10.0*(i+1)))\n"
           "t.close()");
    defineTask();
    auto s = source();
    ASSERT_TRUE(s->open()) << s->lastError();
    std::vector<long long> rows;
    ASSERT_EQ(drain(*s, &rows), (std::vector<std::string>{"5000", "5001", "5002", "5003", "5004", "5005"}));
    python("t=dbf.Table(sys.argv[1]); t.open(dbf.READ_WRITE)\n"
           "for r in t:\n"
           "    if r.telef.strip() in ('5001','5003'): dbf.delete(r)\n"
           "t.pack(); t.close()");
    const OutcomeKind outcomes[] = {OutcomeKind::Notified, OutcomeKind::NoAnswer, OutcomeKind::NoAnswer,
                                    OutcomeKind::Notified, OutcomeKind::Notified, OutcomeKind::HungUp};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        s->writeResult(rows[i], outcomes[i]);
        if (i == 3) {
            EXPECT_EQ(s->lastError(), std::string(kResultNotWritten) +
                                          " (запись 4, телефон 5003): в таблице нет строки с этим номером");
        }
    }
    EXPECT_EQ(s->notified(), 2u);
    const test::ProgramResult read = python("t=dbf.Table(sys.argv[1]); t.open()\n"
                                            "for r in t: print(r.telef.strip(), r.proba, r.otboj, r.data)");
    EXPECT_EQ(read.out, "5000 1 0 2026-12-07\n5002 1 None None\n5004 1 0 2026-12-07\n5005 1 1 None\n");
}

TEST_F(TaskDataSourceTest, AResultKeptFromALockedTableWaitsAndIsWrittenOnceItIsFree)
{
    prepare({{"1", 10}, {"2", 20}, {"3", 30}});
    auto s = source();
    ASSERT_TRUE(s->open());
    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    const long long first = out.row;
    ASSERT_EQ(s->nextRow(out), 0);
    const long long second = out.row;

    test::HeldTableLock lock(m_table, m_dir / "lock");
    ASSERT_TRUE(lock.held());
    const auto before = std::chrono::steady_clock::now();
    s->writeResult(first, OutcomeKind::Notified);
    s->writeResult(second, OutcomeKind::NoAnswer);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2)) << "no long wait on the lock";
    EXPECT_EQ(s->resultsWaiting(), 2u);
    EXPECT_TRUE(s->lastError().starts_with(kResultDelayed)) << s->lastError();
    ASSERT_EQ(s->nextRow(out), 0) << "the task goes on calling meanwhile";
    EXPECT_EQ(out.phone, "3");
    s->requestStop();
    EXPECT_TRUE(s->isOpen()) << "a task with results to write is not closed";
    EXPECT_EQ(stored(m_table)[0].proba, 0);

    // Freed later: written as the call ended, not as the retry found the table.
    m_now += 90;
    lock.release();
    s->writeResult(out.row, OutcomeKind::HungUp);
    EXPECT_EQ(s->resultsWaiting(), 0u);
    EXPECT_EQ(s->lastError(), "");
    EXPECT_FALSE(s->isOpen());
    const auto table = stored(m_table);
    EXPECT_EQ(table[0].data, (data::DbfDate{2026, 12, 7}));
    EXPECT_EQ(table[0].clock, "10:00:00");
    EXPECT_EQ(table[1].proba, 1);
    EXPECT_EQ(table[2].otboj, 1);
}

// A table written on Windows in cp1251 without a code-page mark: the house letter is spelled and
// the street is found in its dictionary; the binding's setting, when it names the other page, wins.
TEST_F(TaskDataSourceTest, AnUnmarkedWindowsTableSpeaksItsLettersAndWords)
{
    test::writeTableByPython(m_table,
                             "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); SUMMA N(10,2); "
                             "KOL N(3,0); DOM C(6); ULICA C(20)",
                             {"('2001', 0, None, None, '', 150, None, '12а', 'Шевченко')"}, "cp1251", true);
    speech::Catalogue catalogue(m_store);
    ASSERT_TRUE(catalogue.addLeaf("Функции", "Дом", "@011", "Номер дома"));
    ASSERT_TRUE(catalogue.addLeaf("", "Улицы", "#001", ""));
    ASSERT_TRUE(catalogue.addDictionaryEntry("Улицы", "Шевченко", "SHEV"));
    ASSERT_EQ(m_tasks.addBinding(kBinding, m_table.string(), ""), config::AddResult::Added);
    ASSERT_EQ(config::Operators(m_store, kBinding).add(kTask), config::AddResult::Added);
    speech::Patterns patterns(m_store, kBinding, kTask);
    speech::PatternItem item;
    item.path = "Улицы";
    item.arg = "ULICA";
    ASSERT_TRUE(patterns.Insert("", item));
    item.path = "Функции\\Дом";
    item.arg = "DOM";
    ASSERT_TRUE(patterns.Insert("0001", item));

    const auto spoken = [this] {
        auto s = source();
        HandOut out;
        EXPECT_TRUE(s->open()) << s->lastError();
        EXPECT_EQ(s->nextRow(out), 0);
        return out.phrases;
    };
    const speech::PhraseList judged = spoken();
    ASSERT_FALSE(judged.empty());
    EXPECT_EQ(judged.front(), "SHEV");
    EXPECT_EQ(judged.back(), "___А");
    ASSERT_TRUE(m_tasks.binding(kBinding)->setCodePage("866"));
    const speech::PhraseList misread = spoken();
    EXPECT_NE(misread.front(), "SHEV");
    EXPECT_NE(misread.back(), "___А");
    ASSERT_TRUE(m_tasks.binding(kBinding)->setCodePage("1251"));
    EXPECT_EQ(spoken(), judged);
}

TEST_F(TaskDataSourceTest, RowsChangedOrDeletedByOthersAreNotCalled)
{
    prepare({{"1", 10}, {"2", 20}, {"3", 30}});
    auto s = source();
    ASSERT_TRUE(s->open());
    {
        auto table = writable(m_table);
        std::string error;
        ASSERT_TRUE(table->setDeleted(0, true, &error)) << error;
        ASSERT_TRUE(table->update(1, {{3, data::DbfValue::ofDate({2026, 12, 1})}}, &error)) << error;
    }
    EXPECT_EQ(drain(*s), (std::vector<std::string>{"3"}));
}

TEST_F(TaskDataSourceTest, ATableThatVanishesOrAQueryThatFailsStopsTheTaskWithItsError)
{
    prepare({{"1", 10}, {"2", 20}});
    auto s = source();
    ASSERT_TRUE(s->open());
    HandOut out;
    ASSERT_EQ(s->nextRow(out), 0);
    fs::rename(m_table, m_dir / "moved.dbf");
    EXPECT_EQ(s->nextRow(out), 1);
    EXPECT_EQ(s->lastError(), kFileNotFound);
    s->writeResult(out.row, OutcomeKind::Notified);
    EXPECT_FALSE(s->isOpen());
    EXPECT_FALSE(s->open());
    EXPECT_EQ(s->lastError(), kFileNotFound);
    fs::rename(m_dir / "moved.dbf", m_table);
    EXPECT_TRUE(s->open()) << "back in place, the task opens again";

    // A condition the table cannot answer says so too.
    ASSERT_TRUE(task().setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    config::ConditionSet condition = task().conditions();
    condition.product(condition.addProduct())->add({config::kConditionExpression, "", 0, "", "NOSUCH > 1"});
    ASSERT_TRUE(task().applyConditions(condition));
    auto bad = source();
    EXPECT_FALSE(bad->open());
    EXPECT_EQ(bad->lastError(), kQueryFailed);
    EXPECT_FALSE(bad->isOpen());
}

}  // namespace
}  // namespace peltra::engine
