// peltra-say run as an operator runs it: the codes of values and of a task's template, one per
// line, four characters each, and the sound they make from a library.
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "support/SpeechReference.h"
#include "support/StationSetup.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace peltra::test {
namespace {

class PeltraSayTest : public ToolsFixture {
protected:
    PeltraSayTest() : ToolsFixture(PELTRA_SAY_PATH) { std::filesystem::create_directories(home()); }

    // The codes printed, one a line, joined by '|' (the codes' own trailing blanks stay).
    std::string say(const std::vector<std::string>& args)
    {
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(r.out.empty() || r.out.back() == '\n') << r.out;
        std::string joined = r.out.empty() ? r.out : r.out.substr(0, r.out.size() - 1);
        std::replace(joined.begin(), joined.end(), '\n', '|');
        return joined;
    }

    // Binding "Абоненты" over table with task "Долг" whose template is the phrase DEBT followed by
    // the functions given as {leaf code, field}.
    void makeTask(const std::string& table, const std::vector<std::pair<std::string, std::string>>& functions)
    {
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы") && catalogue.addFolder("", "Функции"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Задолженность", "DEBT", "Ваша задолженность"));
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding("Абоненты", table, ""), config::AddResult::Added);
        ASSERT_EQ(config::Operators(store, "Абоненты").add("Долг"), config::AddResult::Added);
        ASSERT_EQ(config::Operator(store, "Абоненты", "Долг").setSort("SUMMA", "N", true), config::Change::Changed);
        speech::Patterns patterns(store, "Абоненты", "Долг");
        speech::PatternItem item;
        item.path = "Фразы\\Задолженность";
        std::optional<std::string> after = patterns.Insert("", item);
        for (const auto& [code, field] : functions) {
            ASSERT_TRUE(after && catalogue.addLeaf("Функции", code, code, code));
            item.path = "Функции\\" + code;
            item.arg = field;
            after = patterns.Insert(*after, item);
        }
        ASSERT_TRUE(after);
    }
};

// One case of each command, down to the codes; the rules of the words themselves are the speech
// library's own tests.
TEST_F(PeltraSayTest, ValuesAreSpokenAsTheStationSpeaksThem)
{
    const std::pair<Args, const char*> cases[] = {
        {{"money", "hryvnia", "1251,32"}, "_01A|+13 |_200|_050|_01A|__PS|+GRA|_030|_02E|+SSI"},
        {{"money", "1", "21"}, "_020|_001|__PS|+RR "},
        {{"money", "euro", "0.01"}, "_001|+CNT"},
        {{"function", "10", ""}, "_000|__PS|+DLV"},
        {{"groups", "1005"}, "__PS|_001|__PS|_000|_000|_005"},
        {{"phone", "2345678"}, "_200|_030|_004|__PS|_050|_006|__PS|_070|_008"},
        {{"number", "999"}, "_900|_090|_009"},
        {{"time", "21:22"}, "_020|_001|+CLC|_020|_02E|+MNI"},
        {{"date", "--second", "30", "1"}, "_O30|__PS|+T01"},
        {{"function", "3", "2008-03-25"}, "_020|_E05|__PS|+T03"},
        {{"address", "5/2"}, "__PS|_005|___/|__PS|_002"},
    };
    for (const auto& [args, codes] : cases)
        EXPECT_EQ(say(args), codes) << args[0] << " " << args.back();
}

// The codes of a sum written "R.KK" in roubles or in euros, from the reference of the counting rules.
std::string spokenSum(const std::string& sum, bool euro)
{
    const unsigned whole = std::stoul(sum.substr(0, sum.find('.')));
    const unsigned minor = std::stoul(sum.substr(sum.find('.') + 1));
    std::string joined;
    for (const std::string& code : referenceMoney(whole, minor, kCurrencyRules[euro ? 3 : 1]))
        joined += (joined.empty() ? "" : "|") + code;
    return joined;
}

// A task over a table written by python3-dbf: every record is spoken, by `template --row`, as a
// call hears it, its N(10,2) sums with the kopecks the table holds; values given by hand speak
// the same way.
TEST_F(PeltraSayTest, ARecordOfTheTableIsSpokenAsACallSpeaksIt)
{
    const std::vector<std::string> sums = {"12.50", "0.10", "100.00", "1.05", "21.30", "2.02",
                                           "11.11", "0.00", "3.40", "999.90", "7.77"};
    const auto table = work() / "abon.dbf";
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
    const ProgramResult written = runProgram("/usr/bin/python3", args, work());
    ASSERT_EQ(written.code, 0) << written.err;
    makeTask(table.string(), {{"@009", "SUMMA"}, {"@013", "SUMMA"}});
    for (std::size_t i = 0; i + 1 < sums.size(); ++i) {
        SCOPED_TRACE(sums[i]);
        EXPECT_EQ(say({"template", "Абоненты", "Долг", "--row", std::to_string(i + 1)}),
                  "DEBT|" + spokenSum(sums[i], false) + "|" + spokenSum(sums[i], true));
    }
    // Field names in any case; a field the row lacks speaks nothing, an empty sum is zero.
    EXPECT_EQ(say({"template", "Абоненты", "Долг", "summa=12.50", "KV=7"}),
              "DEBT|" + spokenSum("12.50", false) + "|" + spokenSum("12.50", true));
    EXPECT_EQ(say({"template", "Абоненты", "Долг", "SUMMA="}), "DEBT|_000|__PS|+RRE|_000|__PS|+EUR");
    // The last record is deleted, and no record lies past the end: nothing is spoken for them.
    for (const std::size_t record : {sums.size(), sums.size() + 1})
        EXPECT_EQ(fails({"template", "Абоненты", "Долг", "--row", std::to_string(record)}, 1,
                        "record " + std::to_string(record) + " is not in")
                      .out,
                  "");
}

TEST_F(PeltraSayTest, BadRequestsAreRefused)
{
    const std::tuple<Args, int, const char*> cases[] = {
        {{"function", "14", "1"}, 2, "template function number 0-13"},
        {{"number", "1000"}, 2, "1 to 999"},
        {{"number", "0"}, 2, "1 to 999"},
        {{"money", "yen", "1"}, 2, "CURRENCY is hryvnia"},
        {{"template", "B", "T", "--row", "0"}, 2, "--row needs one record number"},
        {{"template", "B", "T"}, 1, "no configuration store"},
        {{"number", "--line", "5"}, 2, "--line goes with --wav"},
    };
    for (const auto& [args, code, says] : cases)
        EXPECT_EQ(fails(args, code, says).out, "");
}

// The sound of the codes from a library, sample for sample, and as the line delivers it. Phrase
// sizes are no multiple of the modulator's 50-byte block, so the line drops a tail of each.
TEST_F(PeltraSayTest, WavWritesWhatIsSpokenFromTheLibrary)
{
    const std::vector<line::PhonogramLibrary::Phrase> phrases = {
        {"_020", tonePcm(63, 500)}, {"_001", tonePcm(139, 700)}, {"__PS", line::PhonogramLibrary::Bytes(4000, 0)},
        {"+RR ", tonePcm(188, 900)}, {"_005", tonePcm(32, 300)}};
    const auto libraryFile = work() / "lib.awf";
    ASSERT_TRUE(line::PhonogramLibrary::write(libraryFile, line::PhonogramLibrary::pcmFormat(), phrases));
    const auto wav = work() / "spoken.wav";
    std::string error;

    // "21" roubles: _020 _001 __PS +RR, one after another; listening options may come first.
    EXPECT_EQ(say({"--library", libraryFile.string(), "--wav", wav.string(), "money", "rouble", "21"}),
              "_020|_001|__PS|+RR ");
    auto audio = platform::readWav(wav, error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->sampleRate, 8000u);
    std::vector<std::int16_t> expected;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t k = 0; k + 1 < phrases[i].pcm.size(); k += 2)
            expected.push_back(static_cast<std::int16_t>(phrases[i].pcm[k] | (phrases[i].pcm[k + 1] << 8)));
    ASSERT_EQ(audio->samples.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(std::lround(audio->samples[i] * 32768.0f), expected[i]) << "sample " << i;

    // A word the library lacks ("рублей"), or no library: nothing is written.
    std::filesystem::remove(wav);
    for (const auto& [library, says] : {std::pair{libraryFile, "no phrase \"+RRE\""},
                                        std::pair{work() / "none.awf", "none.awf"}}) {
        const ProgramResult r = run({"money", "rouble", "20", "--library", library.string(), "--wav", wav.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(wav));
    }
}

}  // namespace
}  // namespace peltra::test
