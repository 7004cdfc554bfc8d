// Writing tables: in-place updates, appends, deletes, pack and create, checked byte by byte by the
// hand parser; refused values and failed writes leave the file as it was.
#include "data/DbfTable.h"

#include "DbfTestData.h"
#include "HandDbf.h"
#include "data/Connection.h"
#include "support/PythonDbf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace {

using namespace peltra::data;
using namespace peltra::test;

constexpr DbfDate kToday {2025, 11, 7};
const std::string kTodayBytes = "\x7D\x0B\x07";  // the header's last-update date of kToday

class DbfWrite : public ::testing::Test {
protected:
    std::string path(const char* name = "subs.dbf") const { return (m_dir / name).string(); }

    // Writes the hand table (cp866) and opens it for writing with a fixed clock.
    std::unique_ptr<DbfTable> openWritable(const std::string& bytes, const char* name = "subs.dbf")
    {
        writeFileBytes(path(name), bytes);
        std::string error;
        auto table = DbfTable::open(path(name), {.writable = true, .codePage = {}}, &error);
        EXPECT_TRUE(table) << error;
        if (table)
            table->setClock([] { return kToday; });
        return table;
    }

    std::string subscribers(const std::vector<bool>& deleted = {}) const
    {
        return handTable({}, subscriberFields(), subscriberRecords(kIvanovCp866), deleted);
    }

    TempDir m_dir;
};

TEST_F(DbfWrite, UpdateWritesOnlyTheGivenFields)
{
    const std::string before = subscribers();
    auto table = openWritable(before);
    ASSERT_TRUE(table);
    std::string error;
    ASSERT_TRUE(table->update(1,
                              {{1, DbfValue::ofNumber(1)},
                               {3, DbfValue::ofDate({2025, 11, 7})},
                               {4, DbfValue::ofText("09:05:00")},
                               {6, DbfValue::ofNumber(-3.14159)}},
                              &error))
        << error;
    // The header's date and the record change; every other byte is untouched.
    std::string expected = before;
    expected.replace(1, 3, kTodayBytes);
    expected.replace(32 + 9 * 32 + 1 + 65 + 1, 64,
                     subscriberRecord("89161234567", "1", "", "20251107", "09:05:00", "", "-3.14", "?", ""));
    EXPECT_EQ(readFileBytes(path()), expected);
    // And the codec reads its own write back.
    std::string record;
    ASSERT_TRUE(table->readRecord(1, record));
    EXPECT_EQ(table->value(record, 3).date, (DbfDate{2025, 11, 7}));
}

TEST_F(DbfWrite, EncodesEachTypeAsDBaseDoesAndWritesNothingThatDoesNotFit)
{
    const std::string before = subscribers();
    auto table = openWritable(before);
    ASSERT_TRUE(table);
    struct Case {
        const char* field;
        DbfValue value;
        const char* stored;  // null: refused
    } cases[] = {
        {"SUMMA", DbfValue::ofNumber(3.14159), "      3.14"},
        {"SUMMA", DbfValue::ofNumber(-0.001), "      0.00"},
        {"SUMMA", DbfValue::ofNumber(12345678.9), nullptr},
        {"SUMMA", DbfValue::ofText(" 12.5 "), "     12.50"},
        {"SUMMA", DbfValue::ofText("abc"), nullptr},
        {"SUMMA", DbfValue::ofNumber(1.0 / 0.0), nullptr},
        {"SUMMA", DbfValue::null(), "          "},
        {"PROBA", DbfValue::ofNumber(1000), nullptr},
        {"PROBA", DbfValue::ofNumber(-12), "-12"},
        {"PROBA", DbfValue::ofNumber(-123), nullptr},
        {"PROBA", DbfValue::ofNumber(2.6), "  3"},
        {"PROBA", DbfValue::ofDate({2024, 1, 1}), nullptr},
        {"RATE", DbfValue::ofNumber(1.5), "   1.500"},
        {"DATA", DbfValue::ofDate({2024, 2, 29}), "20240229"},
        {"DATA", DbfValue::ofDate({2023, 2, 29}), nullptr},
        {"DATA", DbfValue::ofText("2024/03/05"), "20240305"},
        {"DATA", DbfValue::ofText("20240305"), "20240305"},
        {"DATA", DbfValue::ofText("5.3.2024"), nullptr},
        {"DATA", DbfValue::null(), "        "},
        {"FLAG", DbfValue::ofLogical(true), "T"},
        {"FLAG", DbfValue::null(), " "},
        {"CLOCK", DbfValue::ofText("12:00:001"), nullptr},
        {"FIO", DbfValue::ofText(kIvanovUtf8), kIvanovCp866.c_str()},
        {"FIO", DbfValue::ofText("Иванов Пётрр"), nullptr},
        {"FIO", DbfValue::ofText("€"), nullptr},  // not in cp866
        {"FIO", DbfValue::ofText("\xFF"), nullptr},  // not UTF-8
        {"TELEF", DbfValue::ofNumber(2345678), "2345678     "},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + " " + cases[i].field);
        std::string bytes, error;
        const bool ok = table->encode(*table->fieldIndex(cases[i].field), cases[i].value, bytes, &error);
        if (cases[i].stored) {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(bytes, cases[i].stored);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(std::string("field ") + cases[i].field), std::string::npos) << error;
        }
    }
    // A value that does not fit is refused before anything is written, even beside values that fit.
    std::string error;
    EXPECT_FALSE(table->update(0, {{1, DbfValue::ofNumber(3)}, {2, DbfValue::ofNumber(1000)}}, &error));
    EXPECT_NE(error.find("field OTBOJ (N 3,0): the value 1000 does not fit"), std::string::npos) << error;
    EXPECT_FALSE(table->append({{1, DbfValue::ofNumber(10000)}}, nullptr, &error));
    EXPECT_FALSE(table->update(7, {{1, DbfValue::ofNumber(1)}}, &error));
    EXPECT_NE(error.find("record 7 is past the end (4 records)"), std::string::npos) << error;
    EXPECT_EQ(readFileBytes(path()), before);
}

TEST_F(DbfWrite, AppendWritesRecordEndMarkAndHeader)
{
    const std::string before = subscribers();
    auto table = openWritable(before);
    ASSERT_TRUE(table);
    std::uint32_t index = 0;
    std::string error;
    ASSERT_TRUE(table->append({{0, DbfValue::ofText("555")}, {5, DbfValue::ofText(kIvanovUtf8)}, {7, DbfValue::ofLogical(true)}},
                              &index, &error))
        << error;
    EXPECT_EQ(index, 4u);
    ASSERT_TRUE(table->append({}, &index, &error)) << error;
    EXPECT_EQ(index, 5u);
    const std::string after = readFileBytes(path());
    const HandParsed p = handParse(after);
    EXPECT_EQ(p.count, 6u);
    EXPECT_EQ(after.substr(1, 3), kTodayBytes);
    EXPECT_EQ(p.records[4], " " + subscriberRecord("555", "", "", "", "", kIvanovCp866, "", "T", ""));
    EXPECT_EQ(p.records[5], std::string(65, ' '));
    EXPECT_EQ(p.afterRecords, "\x1A");
    EXPECT_EQ(after.size(), 32 + 9 * 32 + 1 + 6 * 65 + 1u);
    EXPECT_EQ(after.substr(4 + 4, before.size() - 65 * 4 - 1 - 8), before.substr(8, before.size() - 65 * 4 - 1 - 8));
    // A second reader sees both new records.
    const auto reader = DbfTable::open(path(), {});
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->recordCount(), 6u);
}

// An append takes the count from the file: it goes after records another program appended, and over
// the bytes of an append that never raised the count.
TEST_F(DbfWrite, AppendFollowsTheFileNotTheOpenedCount)
{
    auto table = openWritable(subscribers());
    ASSERT_TRUE(table);
    {
        auto other = DbfTable::open(path(), {.writable = true, .codePage = {}});
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->append({{0, DbfValue::ofText("other")}}));
    }
    std::string bytes = readFileBytes(path());
    bytes.pop_back();
    bytes += " half-written record" + std::string(45, '#');  // no count, no end mark
    writeFileBytes(path(), bytes);
    std::uint32_t index = 0;
    ASSERT_TRUE(table->append({{0, DbfValue::ofText("mine")}}, &index));
    EXPECT_EQ(index, 5u);
    const HandParsed p = handParse(readFileBytes(path()));
    EXPECT_EQ(p.count, 6u);
    EXPECT_EQ(p.records[4].substr(1, 5), "other");
    EXPECT_EQ(p.records[5].substr(1, 4), "mine");
    EXPECT_EQ(p.afterRecords, "\x1A");
}

TEST_F(DbfWrite, PackKeepsHeaderAndLiveRecordsInOrder)
{
    std::string before = handTable({.version = 0x30, .driver = 0xC9, .backlink = 263}, subscriberFields(), subscriberRecords(kIvanovCp1251), {true, false, true, false});
    before[300 + 32 + 1] = 'Q';  // a byte of the backlink area must survive
    auto table = openWritable(before);
    ASSERT_TRUE(table);
    const auto oldReader = DbfTable::open(path(), {});
    ASSERT_TRUE(oldReader);
    std::string error;
    ASSERT_TRUE(table->pack(&error)) << error;
    const std::string after = readFileBytes(path());
    const HandParsed p = handParse(after);
    const HandParsed old = handParse(before);
    EXPECT_EQ(p.count, 2u);
    EXPECT_EQ(after.substr(1, 3), kTodayBytes);
    ASSERT_EQ(p.records.size(), 2u);
    EXPECT_EQ(p.records[0], old.records[1]);
    EXPECT_EQ(p.records[1], old.records[3]);
    EXPECT_EQ(p.afterRecords, "\x1A");
    EXPECT_EQ(after.substr(8, old.headerLength - 8), before.substr(8, old.headerLength - 8));
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(table->recordCount(), 2u);
    EXPECT_EQ(table->headerLength(), 32u + 9 * 32 + 1 + 263);
    std::string record;
    ASSERT_TRUE(table->readRecord(1, record));
    EXPECT_EQ(table->value(record, 0).text, "222");
    // A reader that had the table open still reads the table it opened.
    EXPECT_EQ(oldReader->recordCount(), 4u);
    ASSERT_TRUE(oldReader->readRecord(3, record));
    EXPECT_EQ(oldReader->value(record, 0).text, "222");
    // Nothing is left beside the table.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 1);
}

TEST_F(DbfWrite, CreateWritesAnEmptyDBase3Table)
{
    const std::vector<DbfFieldSpec> fields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                              {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"summa", 'N', 10, 2},
                                              {"OK", 'L', 1, 0}};
    for (unsigned page : {866u, 1251u}) {
        SCOPED_TRACE(page);
        const std::string file = path(page == 866 ? "a.dbf" : "b.dbf");
        std::string error;
        ASSERT_TRUE(DbfTable::create(file, fields, page, false, &error)) << error;
        const std::string bytes = readFileBytes(file);
        const HandParsed p = handParse(bytes);
        EXPECT_EQ(p.version, 0x03);
        EXPECT_EQ(p.count, 0u);
        EXPECT_EQ(p.driver, page == 866 ? 0x65 : 0xC9);
        EXPECT_EQ(p.headerLength, 32 + 7 * 32 + 1);
        EXPECT_EQ(p.recordLength, 1 + 12 + 3 + 3 + 8 + 8 + 10 + 1);
        ASSERT_EQ(p.fields.size(), 7u);
        EXPECT_EQ(p.fields[5].name + p.fields[5].type + std::to_string(p.fields[5].length) + "," +
                      std::to_string(p.fields[5].decimals), "SUMMAN10,2");
        EXPECT_EQ(p.afterRecords, "\x1A");
        // Descriptor padding is zero bytes.
        EXPECT_EQ(bytes.substr(32 + 5, 6), std::string(6, '\0'));

        auto table = DbfTable::open(file, {.writable = true, .codePage = {}}, &error);
        ASSERT_TRUE(table) << error;
        ASSERT_TRUE(table->append({{0, DbfValue::ofText("123")}, {1, DbfValue::ofNumber(0)}, {4, DbfValue::ofText(kIvanovUtf8.substr(0, 8))}}, nullptr, &error)) << error;
        const HandParsed q = handParse(readFileBytes(file));
        EXPECT_EQ(q.count, 1u);
        EXPECT_EQ(q.records[0].substr(1 + 12 + 3 + 3 + 8, 8), (page == 866 ? kIvanovCp866 : kIvanovCp1251).substr(0, 4) + "    ");
    }
    std::string error;
    EXPECT_FALSE(DbfTable::create(path("a.dbf"), fields, 866, false, &error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
}

// Tables with memo fields (dBase III .dbt, FoxPro and Visual FoxPro .fpt) and Visual FoxPro's binary
// fields, written by python3-dbf, read here; what we write (a changed memo, a new record, the archive
// copy of a record into a second table) reads back in python3-dbf, and the memos we did not touch
// are intact. The nullable field comes first: python3-dbf numbers NULL marks by field position,
// Visual FoxPro by nullable field, and the two agree only there.
constexpr char kPythonDbf[] = R"(
import datetime, decimal, json, os
os.chdir(sys.argv[2])
kinds = ('db3', 'fp', 'vfp')
if sys.argv[1] == 'make':
    long = 'Длинный текст ' * 50
    for kind in kinds:
        fields = 'NAME C(10); NOTE M'
        if kind == 'vfp':
            fields = 'N2 I NULL; ' + fields + '; CNT I; CASH Y; RATE B; WHEN T'
        for name in (kind, kind + '_arh'):
            t = dbf.Table(name, fields, dbf_type=kind, codepage='cp866')
            t.open(dbf.READ_WRITE)
            if name == kind:
                first, second = ('Иванов', 'первая заметка'), ('Петров', long)
                if kind == 'vfp':
                    first = (7,) + first + (42, decimal.Decimal('12.5'), 3.25, datetime.datetime(2024, 3, 5, 12, 34, 56))
                    second = (0,) + second + (-1, decimal.Decimal('-0.01'), -2.0, None)
                t.append(first)
                t.append(second)
            t.close()
else:
    def plain(v):
        if v is None or v is dbf.Null:
            return None
        if isinstance(v, str):
            return v.rstrip()
        if isinstance(v, decimal.Decimal):
            return float(v)
        if isinstance(v, datetime.datetime):
            return v.isoformat(' ')
        return v
    out = {}
    for kind in kinds:
        for name in (kind, kind + '_arh'):
            t = dbf.Table(name)
            t.open(dbf.READ_ONLY)
            out[name] = [[plain(v) for v in r] for r in t]
            t.close()
    print(json.dumps(out, ensure_ascii=False))
)";

TEST_F(DbfWrite, MemoAndVisualFoxProFieldsAgreeWithPythonDbf)
{
    ASSERT_EQ(runPythonDbf(kPythonDbf, {"make", m_dir.path().string()}, m_dir.path()).code, 0);
    std::string longText;
    for (int i = 0; i < 50; ++i)
        longText += "Длинный текст ";
    longText.pop_back();  // python3-dbf reads memos with trailing blanks trimmed

    for (const std::string kind : {"db3", "fp", "vfp"}) {
        SCOPED_TRACE(kind);
        std::string error;
        auto table = DbfTable::open(m_dir / (kind + ".dbf"), {.writable = true, .codePage = {}}, &error);
        ASSERT_TRUE(table) << error;
        EXPECT_EQ(table->damage(), "");
        auto field = [&](const char* name) { return table->fieldIndex(name).value_or(99); };
        std::string record;
        ASSERT_TRUE(table->readRecord(0, record));
        EXPECT_EQ(table->value(record, field("NOTE")).text, "первая заметка");
        ASSERT_TRUE(table->readRecord(1, record));
        EXPECT_EQ(table->value(record, field("NOTE")).text, longText + " ");
        DbfFieldValues added {{field("NAME"), DbfValue::ofText("Сидоров")},
                              {field("NOTE"), DbfValue::ofText("новая\r\nзаметка")}};
        if (kind == "vfp") {
            const std::vector<std::pair<const char*, DbfValue>> rows[] = {
                {{"CNT", DbfValue::ofNumber(42)}, {"CASH", DbfValue::ofNumber(12.5)}, {"RATE", DbfValue::ofNumber(3.25)},
                 {"WHEN", DbfValue::ofText("2024-03-05 12:34:56")}, {"N2", DbfValue::ofNumber(7)}},
                {{"CNT", DbfValue::ofNumber(-1)}, {"CASH", DbfValue::ofNumber(-0.01)}, {"WHEN", DbfValue::null()},
                 {"N2", DbfValue::ofNumber(0)}}};
            for (std::uint32_t row = 0; row < 2; ++row) {
                ASSERT_TRUE(table->readRecord(row, record));
                for (const auto& [name, value] : rows[row])
                    EXPECT_EQ(table->value(record, field(name)), value) << row << " " << name;
            }
            added.insert(added.end(), {{field("CNT"), DbfValue::ofNumber(-7)}, {field("CASH"), DbfValue::ofText("1234.5678")},
                                       {field("RATE"), DbfValue::ofNumber(0.1)},
                                       {field("WHEN"), DbfValue::ofText("2026-12-06 23:59:58")}});
        }
        ASSERT_TRUE(table->update(0, {{field("NOTE"), DbfValue::ofText("заметка исправлена")}}, &error)) << error;
        ASSERT_TRUE(table->append(added, nullptr, &error)) << error;
        // The archive copy of a record, as the station makes it through SQL.
        Connection connection;
        ASSERT_TRUE(connection.bind("peltra") && connection.connect());
        ASSERT_TRUE(connection.setConnectOption(kCurrentQualifierOption, m_dir.path().string()));
        long long copied = 0;
        EXPECT_TRUE(connection.executeDirect("INSERT INTO " + kind + "_arh SELECT * FROM " + kind + " WHERE rowid >= 2",
                                             &copied));
        EXPECT_EQ(copied, 2);
        for (const auto& e : connection.takeErrors())
            ADD_FAILURE() << e.message;
    }

    const ProgramResult r = runPythonDbf(kPythonDbf, {"read", m_dir.path().string()}, m_dir.path());
    ASSERT_EQ(r.code, 0);
    const auto read = nlohmann::json::parse(r.out);
    for (const std::string kind : {"db3", "fp"}) {
        using J = nlohmann::json;
        const J rows = J::array({J::array({"Иванов", "заметка исправлена"}), J::array({"Петров", longText}),
                                 J::array({"Сидоров", "новая\r\nзаметка"})});
        EXPECT_EQ(read[kind], rows) << kind;
        EXPECT_EQ(read[kind + "_arh"], J::array({rows[1], rows[2]})) << kind;
    }
    using J = nlohmann::json;
    const J vfp = J::array({
        J::array({7, "Иванов", "заметка исправлена", 42, 12.5, 3.25, "2024-03-05 12:34:56"}),
        J::array({0, "Петров", longText, -1, -0.01, -2.0, nullptr}),
        J::array({nullptr, "Сидоров", "новая\r\nзаметка", -7, 1234.5678, 0.1, "2026-12-06 23:59:58"}),
    });
    EXPECT_EQ(read["vfp"], vfp);
    EXPECT_EQ(read["vfp_arh"], J::array({vfp[1], vfp[2]}));
}

// A dBase IV memo file: block size from its header, each memo with its FF FF 08 00 length header.
TEST_F(DbfWrite, DBase4MemoBlocks)
{
    writeFileBytes(path("d4.dbf"), handTable({.version = 0x8B}, {{"NOTE", 'M', 10, 0}}, {"         1"}));
    std::string memo(64, '\0');
    memo[0] = 3;  // next free block
    memo[20] = 64;  // block size
    memo += std::string("\xFF\xFF\x08\x00", 4) + std::string("\x0E\x00\x00\x00", 4) + "\x8F\xE0\xA8\xA2\xA5\xE2";
    memo.resize(3 * 64, '\0');
    writeFileBytes(path("d4.dbt"), memo);
    std::string error;
    auto table = DbfTable::open(path("d4.dbf"), {.writable = true, .codePage = {}}, &error);
    ASSERT_TRUE(table) << error;
    std::string record;
    ASSERT_TRUE(table->readRecord(0, record));
    EXPECT_EQ(table->value(record, 0), DbfValue::ofText("Привет"));
    const std::string text(100, 'z');
    ASSERT_TRUE(table->append({{0, DbfValue::ofText(text)}}, nullptr, &error)) << error;
    ASSERT_TRUE(table->readRecord(1, record));
    EXPECT_EQ(table->value(record, 0), DbfValue::ofText(text));
    EXPECT_EQ(handParse(readFileBytes(path("d4.dbf"))).records[1], "          3");
    const std::string after = readFileBytes(path("d4.dbt"));
    EXPECT_EQ(after.substr(0, 3 * 64).substr(4), memo.substr(4));  // nothing but the next free block changed
    EXPECT_EQ(after[0], 5);
    EXPECT_EQ(after.substr(3 * 64, 8), std::string("\xFF\xFF\x08\x00", 4) + std::string("\x6C\x00\x00\x00", 4));
}

// The writers' lock is one writer's at a time, whichever open of the table asks.
TEST_F(DbfWrite, WritersLockIsExclusive)
{
    writeFileBytes(path(), subscribers());
    std::string error;
    auto first = openFileStorage(path(), true, error);
    auto second = openFileStorage(path(), true, error);
    ASSERT_TRUE(first && second) << error;
    ASSERT_TRUE(first->lockWriters(error)) << error;
    WriterLockWait shortWait(std::chrono::milliseconds(50));
    EXPECT_FALSE(second->lockWriters(error));
    EXPECT_EQ(error, kWritersLockBusy);
    first->unlockWriters();
    EXPECT_TRUE(second->lockWriters(error)) << error;
}

// A write that fails part-way (a full disk) puts back what it changed.
TEST(DbfWriteFailure, FailedWritesLeaveTheTableAsItWas)
{
    const std::string before = handTable({}, subscriberFields(), subscriberRecords(kIvanovCp866));
    struct Case { const char* what; std::size_t allowedBytes; bool append; } cases[] = {
        {"update fails at once", 0, false},
        {"update fails inside the record", 5, false},
        {"update fails at the header date", 56, false},
        {"update fails inside the header date", 57, false},
        {"append fails at once", 0, true},
        {"append fails inside the record", 30, true},
        {"append fails at the header", 66, true},
        {"append fails inside the header", 68, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto storage = std::make_unique<MemoryStorage>(before);
        MemoryStorage* memory = storage.get();
        auto table = DbfTable::openStorage(std::move(storage), "t.dbf", {.writable = true, .codePage = {}});
        ASSERT_TRUE(table);
        table->setClock([] { return kToday; });
        memory->failWritesAfter(c.allowedBytes);
        std::string error;
        const bool ok = c.append
            ? table->append({{0, DbfValue::ofText("77")}}, nullptr, &error)
            : table->update(1, {{0, DbfValue::ofText("1234567890ab")}, {7, DbfValue::ofLogical(true)}}, &error);
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find("cannot write it"), std::string::npos) << error;
        EXPECT_EQ(memory->bytes(), before);
        EXPECT_EQ(table->recordCount(), 4u);
    }
}

}  // namespace
