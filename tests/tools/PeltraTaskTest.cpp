// peltra-task run as the operator runs it: a task built, shown, tested and included; the
// changes that withdraw it; refused input that writes nothing; schedule windows at their edges;
// template order; the code page of a binding's table; removal.
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"
#include "support/PythonDbf.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;

constexpr char kBinding[] = "Абоненты";
constexpr char kTask[] = "Долг";
constexpr char kFields[] = "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); SUMMA N(10,2)";

class PeltraTaskTest : public ToolsFixture {
protected:
    PeltraTaskTest() : ToolsFixture(PELTRA_TASK_PATH) {}
    void SetUp() override { makeTable("abon.dbf", kFields); }

    std::string table(const std::string& name) const { return work(name).string(); }

    // A table as another dBase program writes it, marked as code page 866, with one subscriber.
    void makeTable(const std::string& name, const std::string& fields)
    {
        writeTableByPython(work(name), fields, {"{'telef': '2345678'}"}, "cp866", false);
    }

    std::string state() { return ok({"list"}); }

    // The binding with one task, as every test starts.
    void addTask()
    {
        ok({"add-binding", kBinding, table("abon.dbf"), "должники"});
        ok({"add", kBinding, kTask});
    }

    // The task fully defined, so that its test passes; added first unless it exists.
    void defineTask(bool add = true)
    {
        if (add)
            addTask();
        ok({"sort", kBinding, kTask, "TELEF", "c", "asc"});
        ok({"set", kBinding, kTask, "Typefilter", "1"});
        ok({"range-field", kBinding, kTask, "SUMMA", "N"});
        EXPECT_EQ(ok({"add-range", kBinding, kTask, "500", "1"}), "0001\n");
        EXPECT_EQ(ok({"add-schedule", kBinding, kTask, "daily", "08:00-20:00"}), "0001\n");
        EXPECT_EQ(ok({"add-template", kBinding, kTask, "Фразы\\Здравствуйте"}), "0001\n");
    }

    // Lines of show that begin with prefix.
    std::vector<std::string> shown(const std::string& prefix)
    {
        std::vector<std::string> lines;
        std::istringstream out(ok({"show", kBinding, kTask}));
        for (std::string line; std::getline(out, line);)
            if (line.starts_with(prefix))
                lines.push_back(line);
        return lines;
    }

};

const std::string kExcluded = "Абоненты\tДолг\texcluded\n";
const std::string kValid = "Абоненты\tДолг\tvalid\n";

TEST_F(PeltraTaskTest, BuildsShowsTestsAndIncludesATask)
{
    {
        // One phrase in the catalogue, so that the template item speaks.
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Здравствуйте", "_001", "Здравствуйте"));
    }
    defineTask();
    EXPECT_EQ(ok({"add-template", kBinding, kTask, "Функции\\Сумма", "SUMMA"}), "0002\n");
    EXPECT_EQ(state(), kExcluded);
    EXPECT_EQ(ok({"show", kBinding, kTask}),
              "FieldSort = TELEF\nFieldSortType = C\nAscend = 1\nValid = 0\nPhonelast = \nBehaviour = 1\n"
              "Typefilter = 1\nRepeat = 0\nRepeatType = 0\nRepeatDay = 1\nRepeatMinute = 15\nRepeatTimes = 2\n"
              "RepeatField = \nArhive = 0\nArhiveFile = \nRetryMinute = 0\nMaxAttempts = 0\n"
              "Поле диапазонов = SUMMA\nТип поля диапазонов = N\nДиапазон 1 = 1..500\n"
              "Фильтр = SUMMA>=1 AND SUMMA<=500\nРасписание 1: Ежедневно: 08:00-20:00;\nДоступные порты = \n"
              "Шаблон 0001 = Фразы\\Здравствуйте\nШаблон 0002 = Функции\\Сумма [SUMMA]\n");

    std::string out = ok({"test", kBinding, kTask});
    for (const char* line : {"Сортировка: по возрастанию поля \"TELEF\"\n", "1: Ежедневно: 08:00-20:00; \n",
                             "В речевом шаблоне находится 2 фраз\n",
                             "Ошибок не обнаружено.\nЗадание может быть включенным в планирование.\n"})
        EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(state(), kExcluded) << "test alone does not include";
    EXPECT_NE(ok({"include", kBinding, kTask}).find("Тест окончен."), std::string::npos);
    EXPECT_EQ(state(), kValid);

    // Plain properties, unchanged values and the pace of redialing keep it included.
    for (const Args& args : {Args{"sort", kBinding, kTask, "TELEF", "C", "asc"},
                             Args{"set", kBinding, kTask, "RetryMinute", "45"},
                             Args{"set", kBinding, kTask, "maxattempts", "3"}})
        fails(args, 0, "");
    EXPECT_EQ(state(), kValid);
    EXPECT_NE(ok({"test", kBinding, kTask})
                  .find("Повторный звонок после неудачной попытки: не ранее, чем через 45 мин.\n"
                        "Попыток дозвона по строке: не более 3.\n"),
              std::string::npos);

    // Key properties withdraw it, each saying so.
    for (const Args& args : {Args{"set", kBinding, kTask, "Repeat", "1"}, Args{"sort", kBinding, kTask, "TELEF", "C", "desc"},
                             Args{"add-range", kBinding, kTask, "700", "800"}}) {
        fails(args, 0, "withdrew task \"Долг\" from scheduling");
        EXPECT_EQ(state(), kExcluded) << args[0];
        ok({"include", kBinding, kTask});
    }
    EXPECT_EQ(shown("Phonelast"), std::vector<std::string>{"Phonelast = я"});
    ok({"exclude", kBinding, kTask});
    EXPECT_EQ(state(), kExcluded);
}

TEST_F(PeltraTaskTest, TaskWithCriticalFindingsIsNotIncluded)
{
    addTask();
    // No schedule and no template.
    ProgramResult r = fails({"test", kBinding, kTask}, 1, "");
    EXPECT_NE(r.out.find("!!!!! Критическая ошибка !!!!! Не начначено расписание.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Задание не может быть включенным в планирование.\n"), std::string::npos) << r.out;
    r = fails({"include", kBinding, kTask}, 1, "stays excluded");
    EXPECT_NE(r.out.find("В процессе тестирования обнаружены критические ошибки."), std::string::npos) << r.out;
    EXPECT_EQ(state(), kExcluded);

    // A condition on a column the table lacks: the query fails, and why is shown.
    ok({"add-schedule", kBinding, kTask, "daily", "08:00-20:00"});
    ok({"add-template", kBinding, kTask, "Фразы\\Здравствуйте"});
    ok({"set", kBinding, kTask, "Typefilter", "2"});
    EXPECT_EQ(ok({"add-condition", kBinding, kTask, "new", "NOSUCH", "=", "1"}), "0001\t0001\n");
    r = fails({"include", kBinding, kTask}, 1, "no such column: NOSUCH");
    EXPECT_NE(r.out.find("!!!!! Критическая ошибка !!!!! Ошибка выполнения SQL запроса.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("WHERE NOSUCH = 1"), std::string::npos) << r.err;
    EXPECT_EQ(state(), kExcluded);
}

TEST_F(PeltraTaskTest, BindingsNeedASourceTable)
{
    makeTable("short.dbf", "TELEF C(12); DATA D");
    const ProgramResult r = fails({"add-binding", kBinding, table("short.dbf")}, 1, "PROBA\t");
    EXPECT_NE(r.err.find("CLOCK\t"), std::string::npos) << r.err;
    fails({"add-binding", kBinding, table("none.dbf")}, 1, "Данная таблица не обнаружена");
    EXPECT_FALSE(fs::exists(config::registryFile(home()))) << "a refused binding writes nothing";
    EXPECT_EQ(state(), "");

    addTask();
    fails({"add-binding", "абоненты", table("abon.dbf")}, 1, "a binding named \"абоненты\" already exists");
    fails({"add", kBinding, "ДОЛГ"}, 1, "Данное название уже есть!\nУкажите другое название.");

    // Another table withdraws every task of the binding; the same one, or a refused one, changes nothing.
    defineTask(false);
    ok({"include", kBinding, kTask});
    makeTable("abon2.dbf", kFields);
    fails({"set-file", kBinding, table("abon.dbf")}, 0, "");
    fails({"set-file", kBinding, table("short.dbf")}, 1, "PROBA");
    EXPECT_EQ(state(), kValid);
    fails({"set-file", kBinding, table("abon2.dbf")}, 0, "every task of binding \"Абоненты\" was excluded");
    EXPECT_EQ(state(), kExcluded);
}

// The code page of a binding's unmarked table: judged from its text until the operator names one;
// a marked table keeps its mark.
TEST_F(PeltraTaskTest, CodePageOfTheBindingsTable)
{
    writeTableByPython(work("win.dbf"), "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); FIO C(20)",
                       {"('2345678', 0, 0, None, '', 'Иванов Пётр')"}, "cp1251", true);
    ok({"add-binding", kBinding, table("win.dbf")});
    const std::string judged = "auto\ttable read as 1251 (unmarked; judged from its text)\n";
    EXPECT_EQ(ok({"codepage", kBinding}), judged);
    EXPECT_EQ(ok({"codepage", kBinding, "866"}), "866\ttable read as 866 (unmarked; by the setting)\n");
    EXPECT_EQ(ok({"codepage", kBinding}), "866\ttable read as 866 (unmarked; by the setting)\n");
    fails({"codepage", kBinding, "1252"}, 2, "866, 1251 or auto");
    EXPECT_EQ(ok({"codepage", kBinding, "AUTO"}), judged);
    ok({"set-file", kBinding, table("abon.dbf")});
    const ProgramResult marked = fails({"codepage", kBinding, "1251"}, 0, "applies only to unmarked tables");
    EXPECT_EQ(marked.out, "1251\ttable read as 866 (marked in its header; the setting does not apply)\n");
}

TEST_F(PeltraTaskTest, SchedulesAndTheirWindows)
{
    addTask();
    const auto allowed = [&](const std::string& at) { return ok({"allowed", kBinding, kTask, "--at", at}); };
    EXPECT_EQ(allowed("2024-03-04 12:00:00"), "no\n") << "no schedule, no calling";
    const std::pair<Args, const char*> refused[] = {
        {{"daily", "10:00-09:00"}, "the window ends before it starts"},
        {{"daily", "24:00-24:00"}, "24:00 can only end a window"},
        {{"weekly", "mon=10:00-11:00", "MON=12:00-13:00"}, "is given twice"},
        {{"daily", "10:00-11:00", "--days", "0"}, "days of the month from 1 to 31"},
    };
    for (const auto& [words, message] : refused) {
        Args args = {"add-schedule", kBinding, kTask};
        args.insert(args.end(), words.begin(), words.end());
        EXPECT_EQ(fails(args, 1, message).out, "") << message;
    }
    EXPECT_EQ(ok({"add-schedule", kBinding, kTask, "workweek", "weekend=10:00-14:00", "work=08:00-20:00", "--days",
                  "1-3,10,11,20", "--night"}),
              "0001\n");
    EXPECT_EQ(shown("Расписание"),
              std::vector<std::string>{"Расписание 1: 1-3,10,11,20 числа каждого м-ца: Раб. дни: 08:00-20:00; Вых. "
                                       "дни: 10:00-14:00; (ночное оповещение разрешено)"});
    ok({"remove-schedule", kBinding, kTask, "0001"});
    fails({"remove-schedule", kBinding, kTask, "1"}, 1, "no schedule \"1\"");
    ok({"add-schedule", kBinding, kTask, "daily", "08:00-20:00", "--days", "4,9"});
    ok({"add-schedule", kBinding, kTask, "weekly", "sat=20:00-24:00"});

    // 2024-03-04 is a Monday, 2024-03-09 a Saturday.
    const std::pair<const char*, const char*> cases[] = {
        {"2024-03-04 07:59:59", "no\n"},  {"2024-03-04 08:00", "yes\n"},     {"2024-03-04 20:00:00", "yes\n"},
        {"2024-03-04 20:00:01", "no\n"},  {"2024-03-09 23:59:59", "yes\n"}, {"2024-03-10 00:00:00", "no\n"},
        {"2024-03-16 23:00:00", "yes\n"}, {"2024-03-16 12:00:00", "no\n"},
    };
    for (const auto& [at, answer] : cases)
        EXPECT_EQ(allowed(at), answer) << at;
    for (const char* bad : {"2024-02-30 10:00:00", "2024-03-04 24:00:00", "now"})
        fails({"allowed", kBinding, kTask, "--at", bad}, 1, "--at takes a date and time");
    {
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        ASSERT_TRUE(config::AppSettings(store).setFrozen(true));
    }
    EXPECT_EQ(allowed("2024-03-04 12:00:00"), "no\n") << "paused scheduling allows nothing";
}

TEST_F(PeltraTaskTest, ConditionsRangesAndProperties)
{
    addTask();
    ok({"set", kBinding, kTask, "Typefilter", "2"});
    EXPECT_EQ(ok({"add-condition", kBinding, kTask, "new", "SUMMA", ">", "100"}), "0001\t0001\n");
    EXPECT_EQ(ok({"add-condition", kBinding, kTask, "1", "--expression", "PROBA < 3"}), "0001\t0002\n");
    EXPECT_EQ(ok({"add-condition", kBinding, kTask, "new", "TELEF", "notlike", "'23%'"}), "0002\t0001\n");
    EXPECT_EQ(ok({"filter", kBinding, kTask}), "SUMMA > 100 AND PROBA < 3 OR TELEF NotLike '23%'\n");
    fails({"add-condition", kBinding, kTask, "new", "SUMMA", "=>", "1"}, 1, "the comparison is one of");
    ok({"remove-condition", kBinding, kTask, "1", "0001"});
    EXPECT_EQ(ok({"filter", kBinding, kTask}), "PROBA < 3 OR TELEF NotLike '23%'\n");
    fails({"remove-condition", kBinding, kTask, "1", "0001"}, 1, "no condition \"0001\"");

    ok({"set", kBinding, kTask, "Typefilter", "1"});
    ok({"range-field", kBinding, kTask, "SUMMA", "n"});
    EXPECT_EQ(ok({"add-range", kBinding, kTask, "1", "100"}), "0001\n");
    EXPECT_EQ(ok({"add-range", kBinding, kTask, "0", "4294967295"}), "0002\n");
    for (const char* bad : {"-1", "4294967296", "1e3", ""}) {
        fails({"add-range", kBinding, kTask, bad, "5"}, 1, "range bounds are whole numbers");
        fails({"add-range", kBinding, kTask, "5", bad}, 1, "not \"" + std::string(bad) + "\"");
    }
    ok({"set-range", kBinding, kTask, "2", "900", "700"});
    EXPECT_EQ(ok({"filter", kBinding, kTask}), "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=700 AND SUMMA<=900\n");

    const std::tuple<const char*, const char*, const char*> refused[] = {
        {"FieldSort", "TELEF", "peltra-task sort"},
        {"Valid", "1", "peltra-task include"},
        {"RepeatDay", "0", "RepeatDay must be at least 1"},
        {"RepeatMinute", "+5", "takes a decimal number"},
        {"RepeatTimes", "4294967296", "takes a decimal number"},
        {"ArhiveFile", "archive.txt", "Файл должен иметь расширение"},
        {"Nothing", "1", "no task property \"Nothing\""},
    };
    for (const auto& [property, value, message] : refused)
        fails({"set", kBinding, kTask, property, value}, 1, message);
    ok({"set", kBinding, kTask, "repeatminute", "30"});
    ok({"set", kBinding, kTask, "ArhiveFile", "arch.DBF"});
    EXPECT_EQ(shown("RepeatM"), std::vector<std::string>{"RepeatMinute = 30"});
    EXPECT_EQ(shown("ArhiveFile"), std::vector<std::string>{"ArhiveFile = arch.DBF"});
    fails({"show", kBinding}, 2, "show needs BINDING and TASK");
    fails({"bogus"}, 2, "unknown command bogus");
}

}  // namespace
}  // namespace peltra::test
