// peltra-say run as an operator runs it: the codes of values and of a task's template, one per
// line, four characters each.
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "speech/TemplateFunctions.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace peltra::test {
namespace {

class PeltraSayTest : public ::testing::Test {
protected:
    ProgramResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--home", m_home.path().string()});
        return runProgram(PELTRA_SAY_PATH, args, m_work.path());
    }

    // The codes printed, joined by single blanks (the codes' own trailing blanks stay).
    std::string say(const std::vector<std::string>& args)
    {
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        std::string joined;
        std::size_t start = 0;
        while (start < r.out.size()) {
            const std::size_t end = r.out.find('\n', start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "output does not end with a line break: " << r.out;
                break;
            }
            if (!joined.empty())
                joined += '|';
            joined += r.out.substr(start, end - start);
            start = end + 1;
        }
        return joined;
    }

    TempDir m_home;
    TempDir m_work;
};

TEST_F(PeltraSayTest, ValuesAreSpokenAsTheStationSpeaksThem)
{
    const struct {
        std::vector<std::string> args;
        const char* codes;
    } cases[] = {
        {{"money", "hryvnia", "1251,32"}, "_01A|+13 |_200|_050|_01A|__PS|+GRA|_030|_02E|+SSI"},
        {{"money", "1", "21"}, "_020|_001|__PS|+RR "},
        {{"money", "rouble", "1 000 000"}, "_001|+16 |__PS|+RRE"},
        {{"money", "0", "22,21"}, "_020|_02E|__PS|+GRI|_020|_01A|+SS "},
        {{"money", "euro", "0.01"}, "_001|+CNT"},
        {{"function", "10", ""}, "_000|__PS|+DLV"},
        {{"function", "7", ""}, "_000|__PS|+GRE"},
        {{"groups", "1005"}, "__PS|_001|__PS|_000|_000|_005"},
        {{"groups", "1234567890"}, ""},
        {{"phone", "2345678"}, "_200|_030|_004|__PS|_050|_006|__PS|_070|_008"},
        {{"phone", "0123456789"}, "_060|_007|__PS|_080|_009"},
        {{"function", "1", "450105"}, "_040|_005|__PS|_000|_001|__PS|_000|_005"},
        {{"number", "--feminine", "2"}, "_02E"},
        {{"number", "105"}, "_100|_005"},
        {{"time", "21:22"}, "_020|_001|+CLC|_020|_02E|+MNI"},
        {{"function", "2", "00:00"}, "_000|+CLW|_000|+MNT"},
        {{"date", "31", "12"}, "_030|_E01|__PS|+T12"},
        {{"date", "--second", "30", "1"}, "_O30|__PS|+T01"},
        {{"function", "3", "2008-03-25"}, "_020|_E05|__PS|+T03"},
        {{"function", "4", "2008-03-25"}, "_020|_O05|__PS|+T03"},
        {{"address", "5/2"}, "__PS|_005|___/|__PS|_002"},
        {{"function", "11", "12а"}, "HOME|__PS|_012|___А"},
        {{"function", "12", ""}, ""},
        {{"function", "5", "123"}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(say(c.args), c.codes) << c.args[0] << " " << c.args.back();
}

TEST_F(PeltraSayTest, ADateOfFewerThanThreePartsIsToday)
{
    const speech::CalendarDate now = speech::today();
    char day[3], month[3];
    std::snprintf(day, sizeof day, "%02u", now.day);
    std::snprintf(month, sizeof month, "%02u", now.month);
    EXPECT_EQ(say({"function", "3", "25.03"}), say({"date", day, month}));
}

TEST_F(PeltraSayTest, ATemplateSpeaksItsItemsForTheRow)
{
    {
        std::filesystem::create_directories(m_home.path());
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Задолженность", "DEBT", "Ваша задолженность"));
        ASSERT_TRUE(catalogue.addFolder("", "Функции"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Сумма", "@007", "Сумма (гривны)"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Квартира", "@012", "Квартира"));
        speech::Patterns patterns(store, "Абоненты", "Долг");
        speech::PatternItem item;
        item.path = "Фразы\\Задолженность";
        const auto first = patterns.Insert("", item);
        ASSERT_TRUE(first);
        item.path = "Функции\\Сумма";
        item.arg = "SUMMA";
        const auto second = patterns.Insert(*first, item);
        ASSERT_TRUE(second);
        item.path = "Функции\\Квартира";
        item.arg = "KV";
        ASSERT_TRUE(patterns.Insert(*second, item));
    }
    EXPECT_EQ(say({"template", "Абоненты", "Долг", "summa=12,50", "KV=7"}),
              "DEBT|_012|__PS|+GRE|_050|+SSK|FLAT|__PS|_007");
    // A field the row lacks speaks nothing; an empty sum is zero.
    EXPECT_EQ(say({"template", "Абоненты", "Долг", "SUMMA="}), "DEBT|_000|__PS|+GRE");
}

TEST_F(PeltraSayTest, BadRequestsAreRefused)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"function", "14", "1"}, 2, "template function number 0-13"},
        {{"function", "7"}, 2, "function needs N and TEXT"},
        {{"number", "1000"}, 2, "1 to 999"},
        {{"money", "yen", "1"}, 2, "CURRENCY is hryvnia"},
        {{"date", "1"}, 2, "date needs DAY and MONTH"},
        {{"recite", "1"}, 2, "unknown command recite"},
        {{"template", "B", "T", "novalue"}, 2, "is not FIELD=VALUE"},
        {{"template", "B", "T"}, 1, "no configuration store"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(PeltraSayTest, AMissingTaskIsReportedAndNotCreated)
{
    std::filesystem::create_directories(m_home.path());
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        store.writeText("Tasks\\Абоненты", "File", "");
    }
    const ProgramResult r = run({"template", "Абоненты", "Нет такого"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no task \"Нет такого\""), std::string::npos) << r.err;
    platform::RegistryStore registry(config::registryFile(m_home.path()));
    EXPECT_FALSE(registry.keyExists(
        config::ConfigStore::fullPath("Tasks\\Абоненты\\Операторы\\Нет такого")));
}

}  // namespace
}  // namespace peltra::test
