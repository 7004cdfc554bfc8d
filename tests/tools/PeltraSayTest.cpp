// peltra-say run as an operator runs it: the codes of values and of a task's template, one per
// line, four characters each.
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "speech/TemplateFunctions.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
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
        ASSERT_TRUE(registry.createKey(config::ConfigStore::fullPath("Tasks\\Абоненты\\Операторы\\Долг")));
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

// The codes of a sum written "R.KK", from the Russian rules for roubles and kopecks (or euros
// and cents): the roubles, a pause and the unit in the case the number asks for, then the kopecks
// (feminine: одна, две копейки) and their word; nothing of the roubles when there are none, and
// "ноль рублей" when there is nothing at all. Numbers up to 999 are enough here.
std::vector<std::string> cardinalCodes(int n, bool feminine)
{
    std::vector<std::string> codes;
    if (n >= 100)
        codes.push_back("_" + std::to_string(n / 100) + "00");
    n %= 100;
    if (n >= 10 && n <= 19) {
        codes.push_back("_0" + std::to_string(n));
        return codes;
    }
    if (n >= 20)
        codes.push_back("_0" + std::to_string(n / 10) + "0");
    const int units = n % 10;
    if (units == 1 && feminine)
        codes.push_back("_01A");
    else if (units == 2 && feminine)
        codes.push_back("_02E");
    else if (units != 0)
        codes.push_back("_00" + std::to_string(units));
    return codes;
}

// Which word form follows n: 0 after 1, 21, 31 ... (not 11); 1 after 2-4, 22-24 ... (not 12-14);
// 2 otherwise.
int formAfter(int n)
{
    if (n % 100 >= 11 && n % 100 <= 14)
        return 2;
    if (n % 10 == 1)
        return 0;
    return n % 10 >= 2 && n % 10 <= 4 ? 1 : 2;
}

std::string spokenSum(const std::string& sum, bool euro)
{
    const int whole = std::stoi(sum.substr(0, sum.find('.')));
    const int minor = std::stoi(sum.substr(sum.find('.') + 1));
    const char* unit[] = {"+RR ", "+RRA", "+RRE"};
    const char* minorUnit[] = {"+SS ", "+SSI", "+SSK"};
    const char* cent[] = {"+CNT", "+CNA", "+CNV"};
    std::vector<std::string> codes;
    if (whole == 0 && minor == 0)
        codes = {"_000", "__PS", euro ? "+EUR" : "+RRE"};
    if (whole > 0) {
        codes = cardinalCodes(whole, false);
        codes.push_back("__PS");
        codes.push_back(euro ? "+EUR" : unit[formAfter(whole)]);
    }
    if (minor > 0) {
        for (const std::string& code : cardinalCodes(minor, !euro))
            codes.push_back(code);
        codes.push_back(euro ? cent[formAfter(minor)] : minorUnit[formAfter(minor)]);
    }
    std::string joined;
    for (const std::string& code : codes)
        joined += (joined.empty() ? "" : "|") + code;
    return joined;
}

// A task over a table written by python3-dbf: every record is spoken, by `template --row`, as a
// call hears it, its N(10,2) sums with the kopecks the table holds.
TEST_F(PeltraSayTest, ARecordOfTheTableIsSpokenAsACallSpeaksIt)
{
    const std::vector<std::string> sums = {"12.50", "0.10", "100.00", "1.05", "21.30", "2.02",
                                           "11.11", "0.00", "3.40", "999.90", "7.77"};
    const auto table = m_work.path() / "abon.dbf";
    std::vector<std::string> args = {"-c", R"(
import dbf, sys
t = dbf.Table(sys.argv[1], 'TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); SUMMA N(10,2)',
              codepage='cp866')
t.open(dbf.READ_WRITE)
for i, s in enumerate(sys.argv[2:]):
    t.append({'telef': '50%02d' % (i + 1), 'summa': float(s)})
dbf.delete(t[-1])
t.close()
)", table.string()};
    args.insert(args.end(), sums.begin(), sums.end());
    const ProgramResult written = runProgram("/usr/bin/python3", args, m_work.path());
    ASSERT_EQ(written.code, 0) << written.err;
    {
        std::filesystem::create_directories(m_home.path());
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Задолженность", "DEBT", "Ваша задолженность"));
        ASSERT_TRUE(catalogue.addFolder("", "Функции"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Рубли", "@009", "Сумма (рубли)"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Евро", "@013", "Сумма (евро)"));
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding("Абоненты", table.string(), ""), config::AddResult::Added);
        ASSERT_EQ(config::Operators(store, "Абоненты").add("Долг"), config::AddResult::Added);
        ASSERT_EQ(config::Operator(store, "Абоненты", "Долг").setSort("SUMMA", "N", true), config::Change::Changed);
        speech::Patterns patterns(store, "Абоненты", "Долг");
        speech::PatternItem item;
        item.path = "Фразы\\Задолженность";
        const auto first = patterns.Insert("", item);
        ASSERT_TRUE(first);
        item.path = "Функции\\Рубли";
        item.arg = "SUMMA";
        const auto second = patterns.Insert(*first, item);
        ASSERT_TRUE(second);
        item.path = "Функции\\Евро";
        ASSERT_TRUE(patterns.Insert(*second, item));
    }
    for (std::size_t i = 0; i + 1 < sums.size(); ++i) {
        SCOPED_TRACE(sums[i]);
        EXPECT_EQ(say({"template", "Абоненты", "Долг", "--row", std::to_string(i + 1)}),
                  "DEBT|" + spokenSum(sums[i], false) + "|" + spokenSum(sums[i], true));
    }
    // The last record is deleted, and no record lies past the end: nothing is spoken for them.
    for (const std::size_t record : {sums.size(), sums.size() + 1}) {
        const ProgramResult r = run({"template", "Абоненты", "Долг", "--row", std::to_string(record)});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("record " + std::to_string(record) + " is not in"), std::string::npos) << r.err;
    }
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
        {{"template", "B", "T", "--row", "0"}, 2, "--row needs one record number"},
        {{"template", "B", "T", "--row", "1", "SUMMA=1"}, 2, "--row needs one record number"},
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

// A tone phrase of the given byte count, its level set by the code so phrases differ.
line::PhonogramLibrary::Bytes tonePhrase(std::size_t bytes, double level)
{
    line::PhonogramLibrary::Bytes pcm;
    for (std::size_t i = 0; i < bytes / 2; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(level * std::sin(static_cast<double>(i) * 0.5)));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
    }
    return pcm;
}

TEST_F(PeltraSayTest, WavWritesWhatIsSpokenFromTheLibrary)
{
    // Sizes not a multiple of the modulator's 50-byte block, so the line drops a tail of each.
    const std::vector<line::PhonogramLibrary::Phrase> phrases = {
        {"_020", tonePhrase(1010, 6000)},
        {"_001", tonePhrase(2222, 9000)},
        {"__PS", line::PhonogramLibrary::Bytes(4000, 0)},
        {"+RR ", tonePhrase(3004, 12000)},
        {"_005", tonePhrase(500, 3000)},
    };
    const auto libraryFile = m_work.path() / "lib.awf";
    std::string error;
    ASSERT_TRUE(line::PhonogramLibrary::write(libraryFile, line::PhonogramLibrary::pcmFormat(), phrases, &error))
        << error;
    const auto wav = m_work.path() / "spoken.wav";

    // "21" roubles: _020 _001 __PS +RR, one after another.
    EXPECT_EQ(say({"money", "rouble", "21", "--library", libraryFile.string(), "--wav", wav.string()}),
              "_020|_001|__PS|+RR ");
    auto audio = platform::readWav(wav, error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->sampleRate, 8000u);
    std::vector<std::int16_t> expected;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t k = 0; k + 1 < phrases[i].pcm.size(); k += 2)
            expected.push_back(static_cast<std::int16_t>(phrases[i].pcm[k] | (phrases[i].pcm[k + 1] << 8)));
    ASSERT_EQ(audio->samples.size(), (1010 + 2222 + 4000 + 3004) / 2);
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(std::lround(audio->samples[i] * 32768.0f), expected[i]) << "sample " << i;

    // As the line delivers it: the same length, less each phrase's part of a block.
    const auto lineWav = m_work.path() / "line.wav";
    EXPECT_EQ(say({"money", "--wav", lineWav.string(), "--line", "1", "--library", libraryFile.string(), "21"}),
              "_020|_001|__PS|+RR ");
    audio = platform::readWav(lineWav, error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->samples.size(), (1000 + 2200 + 4000 + 3000) / 2);
    double sum = 0;
    for (float s : audio->samples)
        sum += s * s;
    EXPECT_GT(std::sqrt(sum / static_cast<double>(audio->samples.size())), 0.05) << "the line output is not silent";

    // The library in the station folder serves when none is named.
    std::filesystem::copy_file(libraryFile, m_home.path() / "peltra.awf");
    EXPECT_EQ(say({"number", "5", "--wav", wav.string()}), "_005");
    audio = platform::readWav(wav, error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->samples.size(), 250u);
}

TEST_F(PeltraSayTest, WavFailsClearlyWhenItCannotSpeak)
{
    const auto libraryFile = m_work.path() / "lib.awf";
    std::string error;
    ASSERT_TRUE(line::PhonogramLibrary::write(libraryFile, line::PhonogramLibrary::pcmFormat(),
                                              {{"_020", tonePhrase(100, 1000)}, {"__PS", {0, 0}}}, &error))
        << error;
    const auto wav = m_work.path() / "spoken.wav";

    ProgramResult r = run({"number", "--line", "5"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--line goes with --wav"), std::string::npos) << r.err;
    r = run({"number", "5", "--wav"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--wav needs a file"), std::string::npos) << r.err;

    // The word "рублей" is not in the library.
    r = run({"money", "rouble", "20", "--library", libraryFile.string(), "--wav", wav.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no phrase \"+RRE\""), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(wav));

    r = run({"number", "20", "--library", (m_work.path() / "none.awf").string(), "--wav", wav.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("none.awf"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(wav));
}

// The listening options may stand before the command as well as after it.
TEST_F(PeltraSayTest, ListeningOptionsMayComeBeforeTheCommand)
{
    const auto libraryFile = m_work.path() / "lib.awf";
    ASSERT_TRUE(line::PhonogramLibrary::write(libraryFile, line::PhonogramLibrary::pcmFormat(),
                                              {{"_005", tonePhrase(500, 3000)}}));
    const auto wav = m_work.path() / "spoken.wav";
    const ProgramResult r = run({"--library", libraryFile.string(), "--wav", wav.string(), "number", "5"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "_005\n");
    EXPECT_TRUE(std::filesystem::exists(wav));
}

}  // namespace
}  // namespace peltra::test
