// peltra-report run as the operator runs it over a temporary station home: source text, plain
// text, CSV and PDF, with a task's filter and totals; refused arguments and missing definitions.
#include "ReportStation.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;
class PeltraReportTest : public ToolsFixture {
protected:
    PeltraReportTest() : ToolsFixture(PELTRA_REPORT_PATH) { m_lead = {"--home", m_station.home().string()}; }

    void SetUp() override
    {
        // Three rows by hand: one notified inside the period, one outside it, one not notified.
        const std::vector<SubscriberRow> rows = {{"300", 1, data::DbfDate{2024, 3, 1}, "10:00:00", 12.5, "Петров, П.", 3, true},
                                                 {"1000", 2, data::DbfDate{2024, 1, 15}, "11:00:00", 100.25, "Иванов", 7, false},
                                                 {"20", 0, std::nullopt, "", 7.0, "Сидоров", 12, false}};
        ASSERT_TRUE(writeSubscriberTable(m_station.tablePath("abon.dbf"), rows));
        ASSERT_EQ(m_station.tasks().addBinding("Абоненты", m_station.tablePath("abon.dbf").string(), "заметки"),
                  config::AddResult::Added);
        ASSERT_EQ(m_station.tasks().binding("Абоненты")->operators().add("Долг"), config::AddResult::Added);
        config::Operator task = *m_station.tasks().task("Абоненты", "Долг");
        task.setSort("SUMMA", "N", true);
        ASSERT_TRUE(task.setNumber(config::TaskProperty::Typefilter, config::kFilterRanges));
        task.setRangeField("SUMMA", "N");
        ASSERT_TRUE(task.addRange(10, 200));
        m_station.closeStore();
    }

    ReportStation m_station;
};

TEST_F(PeltraReportTest, TextOfTheWholeFileAndCsvOfATaskInAPeriod)
{
    const std::string out = ok({"Абоненты", "--text", "--sum", "SUMMA"});
    EXPECT_EQ(out.find("Задание:  "), 0u) << out;
    EXPECT_NE(out.find("\nАбоненты : Весь файл\nОповещенные и неоповещенные.\n"), std::string::npos) << out;
    // "1000" < "20" < "300" as text.
    const std::size_t a = out.find("\n1000 "), b = out.find("\n20 "), c = out.find("\n300 ");
    EXPECT_TRUE(a != std::string::npos && a < b && b < c) << out;
    EXPECT_NE(out.find("119.75\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nВсего строк: 3\n"), std::string::npos) << out;

    // CSV of a task in a period.
    const fs::path csv = m_station.home() / "out.csv";
    ok({"Абоненты", "Долг", "--mode", "1", "--from", "01/02/2024", "--to", "01/03/2024", "--csv", csv.string()});
    EXPECT_EQ(readFile(csv), "Телефон,Проба,Отбой,Дата,Время,Сумма,FIO,KV,PAID\r\n"
                             "300,1,0,01.03.2024,10:00:00,12.50,\"Петров, П.\",3,1\r\n");
    // Mode 2 ignores the period; the task's range keeps 12.50 and 100.25 only, and row 3 has 7.00.
    EXPECT_EQ(ok({"Абоненты", "Долг", "--mode", "2", "--from", "01/02/2024", "--to", "01/03/2024", "--csv", "-"}),
              "Телефон,Проба,Отбой,Дата,Время,Сумма,FIO,KV,PAID\r\n");
    EXPECT_EQ(ok({"Абоненты", "Долг", "--csv", "-"}),
              "Телефон,Проба,Отбой,Дата,Время,Сумма,FIO,KV,PAID\r\n"
              "300,1,0,01.03.2024,10:00:00,12.50,\"Петров, П.\",3,1\r\n"
              "1000,2,0,15.01.2024,11:00:00,100.25,Иванов,7,0\r\n");
}

TEST_F(PeltraReportTest, RefusalsAndFailures)
{
    fails({"--text"}, 2, "no binding");
    fails({"Абоненты"}, 2, "no output");
    fails({"Абоненты", "--text", "--source"}, 2, "exactly one");
    fails({"Абоненты", "--from", "01/01/2024", "--text"}, 2, "--from and --to");
    fails({"Абоненты", "--to", "01/01/2024", "--text"}, 2, "--from and --to");
    fails({"Абоненты", "--mode", "1", "--from", "01/02/2026", "--to", "31/02/2026", "--text"}, 1, "31/02/2026");
    fails({"Абоненты", "Нет такого", "--text"}, 1, "Нет такого");
    fails({"Абоненты", "Долг", "--archive", "--text"}, 1, "не запоминает");
    fails({"Абоненты", "--pdf", (m_station.home() / "no such folder" / "r.pdf").string()}, 1, "r.pdf");
    const ProgramResult r = runProgram(PELTRA_REPORT_PATH, {"--home", (m_station.home() / "none").string(), "A", "--text"},
                                       m_station.home(), "", {{"PELTRA_HOME", std::nullopt}});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no configuration store"), std::string::npos) << r.err;
}

TEST_F(PeltraReportTest, PdfHoldsThePagesTextsRowsAndTotals)
{
    const fs::path pdf = m_station.home() / "report.pdf";
    // Qt keeps its fonts to the end of the process, which the leak checker would count.
    const ProgramResult written =
        run({"Абоненты", "--sum", "SUMMA", "--pdf", pdf.string()}, "", {{"ASAN_OPTIONS", "detect_leaks=0"}});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
    // What a reader of the page sees, taken out of the PDF by poppler.
    const ProgramResult text = runProgram("/usr/bin/pdftotext", {"-layout", pdf.string(), "-"}, m_station.home(), "", {});
    ASSERT_EQ(text.code, 0) << text.err;
    for (const char* shown : {"Задание:", "Абоненты : Весь файл", "Стр. 1 из 1", "Телефон", "Петров, П.", "119.75",
                              "Всего строк: 3"})
        EXPECT_NE(text.out.find(shown), std::string::npos) << shown << "\n" << text.out;
}

}  // namespace
}  // namespace peltra::test
