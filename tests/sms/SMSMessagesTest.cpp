// The messages of a whole generated table: text items as written, field items the row's trimmed
// value; the refusals that come before the first row, and where the source table is found.
#include "sms/SMSMessages.h"

#include "data/HandDbf.h"
#include "support/PythonDbf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::sms {
namespace {

namespace fs = std::filesystem;
using Items = std::vector<SMSPatternItem>;

SMSPatternItem text(const std::string& value) { return {"", ItemType::Text, value}; }
SMSPatternItem field(const std::string& name) { return {"", ItemType::Field, name}; }

class SMSRenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::vector<test::HandField> fields = {
            {"TELEF", 'C', 12, 0}, {"FIO", 'C', 10, 0}, {"SUMMA", 'N', 8, 2}, {"DATA", 'D', 8, 0}};
        const std::vector<std::string> records = {
            "  2345678   " "Ivanov    " "   12.50" "20240305",
            "111         " "Petrov    " "    3.00" "        ",
            "999         " "Deleted   " "    1.00" "20240101",
            "333         " "          " "        " "20241231",
        };
        test::writeFileBytes((m_dir / "abon.dbf").string(),
                             test::handTable({}, fields, records, {false, false, true, false}));
        test::writeFileBytes((m_dir / "nophone.dbf").string(),
                             test::handTable({}, {{"FIO", 'C', 10, 0}}, {"Ivanov    "}));
    }

    std::vector<std::string> render(const fs::path& table, const Items& items, bool ok = true)
    {
        std::vector<std::string> lines;
        std::string error;
        EXPECT_EQ(renderMessages(table, items, [&](const SMSMessage& m) { lines.push_back(m.phone + "|" + m.text); },
                                 &error),
                  ok)
            << error;
        m_error = error;
        return lines;
    }

    test::TempDir m_dir;
    std::string m_error;
};

TEST_F(SMSRenderTest, EveryLiveRowGivesItsNumberAndText)
{
    const Items items = {text("Уважаемый "), field("fio"), text(", долг "), field("SUMMA"), text(" на "),
                         field("DATA")};
    EXPECT_EQ(render(m_dir / "abon.dbf", items),
              (std::vector<std::string>{"2345678|Уважаемый Ivanov, долг 12.50 на 05.03.2024",
                                        "111|Уважаемый Petrov, долг 3.00 на ",
                                        "333|Уважаемый , долг  на 31.12.2024"}));
    EXPECT_EQ(render(m_dir / "abon.dbf", {}), (std::vector<std::string>{"2345678|", "111|", "333|"}));
}

// Sums of a table written by python3-dbf reach the message as the table holds them, trailing
// zeros and all, in N(10,2) and in F(8,3).
TEST_F(SMSRenderTest, SumsOfAnotherProgramsTableKeepTheirDecimals)
{
    const fs::path table = m_dir / "sums.dbf";
    test::writeTableByPython(table, "TELEF C(12); SUMMA N(10,2); PENI F(8,3)",
                             {"('1', 12.5, 1.25)", "('2', 0.1, 0.01)", "('3', 100, 10)", "('4', 1.05, 0.105)",
                              "('5', 21.3, 2.13)"},
                             "cp866", false);
    const std::vector<std::string> expected = {"1|12.50 / 1.250", "2|0.10 / 0.010", "3|100.00 / 10.000",
                                               "4|1.05 / 0.105", "5|21.30 / 2.130"};
    EXPECT_EQ(render(table, {field("SUMMA"), text(" / "), field("PENI")}), expected);
}

TEST_F(SMSRenderTest, RefusesBeforeTheFirstRow)
{
    struct Case { const char* what; fs::path table; Items items; const char* part; };
    const std::vector<Case> cases = {
        {"1 no such file", m_dir / "none.dbf", {}, "none.dbf"},
        {"2 not a table", m_dir.path(), {}, "there is no table"},
        {"3 no TELEF", m_dir / "nophone.dbf", {}, "no column TELEF"},
        {"4 a field the table lacks", m_dir / "abon.dbf", {text("x"), {"0002", ItemType::Field, "ADRES"}},
         "no column \"ADRES\" (template item 0002)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(render(c.table, c.items, false).empty());
        EXPECT_NE(m_error.find(c.part), std::string::npos) << m_error;
    }
}

TEST_F(SMSRenderTest, TheSourceTableIsFoundByTheFilesNameInAFolder)
{
    struct Case {
        const char* what;
        std::string file;
        std::optional<fs::path> folder;
        std::optional<fs::path> expected;
    };
    const std::vector<Case> cases = {
        {"1 the file itself", "/x/y/abon.dbf", std::nullopt, fs::path("/x/y/abon.dbf")},
        {"2 its name in the folder", "/x/y/abon.dbf", m_dir.path(), m_dir / "abon.dbf"},
        {"3 a Windows path", "C:\\DATA\\abon.dbf", m_dir.path(), m_dir / "abon.dbf"},
        {"4 other letter case", "C:\\DATA\\ABON.DBF", m_dir.path(), m_dir / "abon.dbf"},
        {"5 not in the folder", "/x/other.dbf", m_dir.path(), std::nullopt},
        {"6 no file", "", m_dir.path(), std::nullopt},
        {"7 a folder path", "C:\\DATA\\", m_dir.path(), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_EQ(sourceTable(c.file, c.folder, &error), c.expected);
        EXPECT_EQ(error.empty(), c.expected.has_value()) << error;
    }
}

}  // namespace
}  // namespace peltra::sms
