// Reading a report over generated tables: the rows the SQL chooses against the same choice made
// in C++ over the generated rows, the order, the formatted cells and the totals.
#include "reports/ReportReader.h"

#include "ReportStation.h"
#include "support/PythonDbf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace peltra::reports {
namespace {

using config::TaskProperty;
using test::SubscriberRow;

constexpr char kBinding[] = "Абоненты";

constexpr std::size_t kTelef = 0, kData = 3, kSumma = 5, kKv = 7, kPaid = 8;

bool notified(const SubscriberRow& r) { return r.data.has_value(); }

bool byText(const SubscriberRow& a, const SubscriberRow& b) { return a.telef < b.telef; }

int dayNumber(const data::DbfDate& d) { return d.year * 10000 + d.month * 100 + d.day; }

class ReportReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_rows = test::generateRows(700, 20240229);
        ASSERT_TRUE(test::writeSubscriberTable(m_station.tablePath("abon.dbf"), m_rows));
        ASSERT_EQ(tasks().addBinding(kBinding, m_station.tablePath("abon.dbf").string(), ""), config::AddResult::Added);
    }

    config::TaskStore& tasks() { return m_station.tasks(); }

    config::Operator addTask(const std::string& name)
    {
        EXPECT_EQ(tasks().binding(kBinding)->operators().add(name), config::AddResult::Added);
        return *tasks().task(kBinding, name);
    }

    static ReportOptions options(ReportMode mode, std::optional<std::string> task = std::nullopt,
                                 std::optional<ReportPeriod> period = std::nullopt)
    {
        return {kBinding, std::move(task), mode, std::move(period), {}, ReportVariant::BindingTable};
    }

    // The rows pred keeps, in the order of key (stable: ties keep table order); no key keeps table order.
    using Key = std::function<bool(const SubscriberRow&, const SubscriberRow&)>;
    std::vector<SubscriberRow> expected(const std::function<bool(const SubscriberRow&)>& pred, const Key& before) const
    {
        std::vector<SubscriberRow> kept;
        std::copy_if(m_rows.begin(), m_rows.end(), std::back_inserter(kept), pred);
        if (before)
            std::stable_sort(kept.begin(), kept.end(), before);
        return kept;
    }

    ReportData read(const ReportOptions& o)
    {
        ReportData data;
        const ReadResult result = readReport(tasks(), o, data);
        EXPECT_EQ(result.outcome, ReadOutcome::Done) << result.message;
        for (const data::OdbcError& error : result.errors)
            ADD_FAILURE() << error.message;
        return data;
    }

    test::ReportStation m_station;
    std::vector<SubscriberRow> m_rows;
};

TEST_F(ReportReaderTest, SqlChoosesTheRowsThePredicateChooses)
{
    config::Operator ranges = addTask("Диапазоны");
    ranges.setSort("SUMMA", "N", false);
    ASSERT_TRUE(ranges.setNumber(TaskProperty::Typefilter, config::kFilterRanges));
    ranges.setRangeField("SUMMA", "N");
    ASSERT_TRUE(ranges.addRange(1, 100));
    ASSERT_TRUE(ranges.addRange(500, 600));

    config::Operator condition = addTask("Условие");
    condition.setSort("TELEF", "C", true);
    ASSERT_TRUE(condition.setNumber(TaskProperty::Typefilter, config::kFilterCondition));
    config::ConditionSet set = condition.conditions();
    const std::size_t first = set.addProduct();
    set.product(first)->add({config::kConditionCompare, "KV", 5, "10", ""});
    set.product(first)->add({config::kConditionCompare, "FIO", 0, "'Ив%'", ""});
    set.products[set.addProduct()].add({config::kConditionExpression, "", 2, "", "PROBA = 0"});
    ASSERT_TRUE(condition.applyConditions(set));

    config::Operator plain = addTask("Без фильтра");
    ASSERT_TRUE(plain.setNumber(TaskProperty::Typefilter, config::kFilterNone));

    const auto byNumber = [](const SubscriberRow& a, const SubscriberRow& b) {
        return std::stod(a.telef) < std::stod(b.telef);
    };
    // Descending by SUMMA: empty sums come last, as NULLs do in a descending order.
    const auto bySummaDown = [](const SubscriberRow& a, const SubscriberRow& b) {
        return a.summa.value_or(-1e9) > b.summa.value_or(-1e9);
    };
    const auto inRanges = [](const SubscriberRow& r) {
        return r.summa && ((*r.summa >= 1 && *r.summa <= 100) || (*r.summa >= 500 && *r.summa <= 600));
    };
    const auto inCondition = [](const SubscriberRow& r) {
        return (r.kv > 10 && r.fio.rfind("Ив", 0) == 0) || r.proba == 0;
    };
    const int from = 20240225, to = 20240301;
    const auto inPeriod = [&](const SubscriberRow& r) {
        return r.data && dayNumber(*r.data) >= from && dayNumber(*r.data) <= to;
    };
    const ReportPeriod period{"25/02/2024", "01/03/2024"};

    const struct {
        const char* name;
        ReportOptions options;
        std::function<bool(const SubscriberRow&)> pred;
        Key order;
    } cases[] = {
        {"1 whole file", options(ReportMode::All), [](const SubscriberRow&) { return true; }, byText},
        {"2 whole file, notified", options(ReportMode::Notified), notified, byText},
        {"3 whole file, notified in a period", options(ReportMode::Notified, std::nullopt, period), inPeriod, byText},
        {"4 not notified ignores the period", options(ReportMode::NotNotified, std::nullopt, period),
         [](const SubscriberRow& r) { return !notified(r); }, byText},
        {"5 ranges, sorted down by SUMMA", options(ReportMode::All, "Диапазоны"), inRanges, bySummaDown},
        {"6 ranges, notified", options(ReportMode::Notified, "Диапазоны"),
         [&](const SubscriberRow& r) { return notified(r) && inRanges(r); }, bySummaDown},
        {"7 condition, TELEF as a number", options(ReportMode::All, "Условие"), inCondition, byNumber},
        {"8 condition, period", options(ReportMode::Notified, "Условие", period),
         [&](const SubscriberRow& r) { return inPeriod(r) && inCondition(r); }, byNumber},
        {"9 no filter, no sort: table order", options(ReportMode::NotNotified, "Без фильтра"),
         [](const SubscriberRow& r) { return !notified(r); }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReportData data = read(c.options);
        std::vector<std::string> got, want;
        for (std::size_t row = 0; row < data.rows.rowCount(); ++row)
            got.emplace_back(data.rows.cell(row, kTelef));
        for (const SubscriberRow& r : expected(c.pred, c.order))
            want.push_back(r.telef);
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(got, want);
    }
}

TEST_F(ReportReaderTest, CellsAndTotals)
{
    ReportOptions o = options(ReportMode::Notified);
    o.sumFields = {"summa"};
    const ReportData data = read(o);
    const std::vector<SubscriberRow> kept = expected(notified, byText);
    ASSERT_EQ(data.rows.rowCount(), kept.size());

    long long cents = 0, kv = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const SubscriberRow& r = kept[i];
        char date[16], summa[32];
        std::snprintf(date, sizeof date, "%02d.%02d.%04d", r.data->day, r.data->month, r.data->year);
        EXPECT_EQ(data.rows.cell(i, kData), date);
        if (r.summa) {
            std::snprintf(summa, sizeof summa, "%.2f", *r.summa);
            EXPECT_EQ(data.rows.cell(i, kSumma), summa);
            cents += std::llround(*r.summa * 100);
        } else {
            EXPECT_EQ(data.rows.cell(i, kSumma), "");
        }
        EXPECT_EQ(data.rows.cell(i, kPaid), r.paid ? "1" : "0");
        kv += r.kv;
    }
    ASSERT_EQ(data.totals.size(), 9u);
    EXPECT_DOUBLE_EQ(data.totals[kSumma].value_or(-1), static_cast<double>(cents) / 100.0);
    EXPECT_DOUBLE_EQ(data.totals[kKv].value_or(-1), static_cast<double>(kv));
    EXPECT_FALSE(data.totals[kTelef].has_value() || data.totals[kData].has_value());
    EXPECT_EQ(data.totalVisible, (std::vector<bool>{false, false, false, false, false, true, false, false, false}));

    // Totals round to two decimals, F fields count as numbers, and a total of text is refused; over
    // a table python3-dbf wrote.
    const auto file = m_station.tablePath("fine.dbf");
    test::writeTableByPython(file, "TELEF C(12); DATA D; AMT N(10,3); PENI F(8,2)",
                             {"('1', None, 1.234, 0.5)", "('2', None, 2.345, 0.5)", "('3', None, 0.004, 0.5)"},
                             "cp866", false);
    ASSERT_EQ(tasks().addBinding("fine", file.string(), ""), config::AddResult::Added);
    o = options(ReportMode::All);
    o.binding = "fine";
    o.sumFields = {"AMT"};
    ReportData fine = read(o);
    ASSERT_EQ(fine.rows.rowCount(), 3u);
    EXPECT_EQ(std::string(fine.rows.cell(0, 2)) + "|" + std::string(fine.rows.cell(0, 3)), "1.234|0.50");
    EXPECT_EQ(fine.columns.at(3).kind, ColumnKind::Decimal);
    EXPECT_EQ(fine.totals, (std::vector<std::optional<double>>{std::nullopt, std::nullopt, 3.58, 1.5}));  // 3.583
    EXPECT_EQ(totalText(fine.totals[2].value_or(0)), "3.58");
    o.sumFields = {"TELEF"};
    const ReadResult result = readReport(tasks(), o, fine);
    EXPECT_EQ(result.outcome, ReadOutcome::Failed);
    EXPECT_EQ(result.message, "Поле 'TELEF' не является числовым полем таблицы.");
}

}  // namespace
}  // namespace peltra::reports
