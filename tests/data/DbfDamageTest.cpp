// Damaged tables: a clear error, or the records really present; never a crash or a read out of bounds.
#include "data/DbfTable.h"

#include "DbfTestData.h"
#include "HandDbf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace peltra::data;
using namespace peltra::test;

std::string goodTable()
{
    return handTable({}, subscriberFields(), subscriberRecords("x"));
}

constexpr std::size_t kHeader = 32 + 9 * 32 + 1;
constexpr std::size_t kRecord = 65;

struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* error;  // expected in the error text; null when the table opens
    std::uint32_t records;  // records present when it opens
    const char* fault = nullptr;  // expected in damage() when it opens; null for a sound table
};

TEST(DbfDamage, RefusedOrCutToWhatIsThere)
{
    const Case cases[] = {
        {"empty file", [](std::string& b) { b.clear(); }, "too short", 0},
        {"ten bytes", [](std::string& b) { b.resize(10); }, "too short", 0},
        {"not a dBase version", [](std::string& b) { b[0] = 0x00; }, "not a dBase table (version byte 0x00)", 0},
        {"text file", [](std::string& b) { b = std::string(200, 'A'); }, "version byte 0x41", 0},
        {"header length too small", [](std::string& b) { put16(b, 8, 20); }, "header length (20 bytes) is too small", 0},
        {"header past the end", [](std::string& b) { put16(b, 8, 60000); }, "runs past the end of the file", 0},
        {"cut inside the header", [](std::string& b) { b.resize(100); }, "runs past the end of the file", 0},
        {"no terminator", [](std::string& b) { b[kHeader - 1] = 'X'; }, "no terminator", 0},
        {"header length cuts the descriptors", [](std::string& b) { put16(b, 8, 32 + 4 * 32 + 10); }, "no terminator", 0},
        {"zero-length field", [](std::string& b) { b[32 + 32 + 16] = 0; }, "field \"PROBA\" has length 0", 0},
        {"huge field length", [](std::string& b) { b[32 + 16] = static_cast<char>(250); }, "run past the record length", 0},
        {"record length shorter than the fields", [](std::string& b) { put16(b, 10, 40); }, "run past the record length", 0},
        {"record length zero", [](std::string& b) { put16(b, 10, 0); }, "record length (0 bytes) is too small", 0},
        {"terminator first", [](std::string& b) { b[32] = 0x0D; }, "no fields", 0},
        {"multi-byte code page", [](std::string& b) { b[29] = 0x7B; }, "multi-byte", 0},
        {"count past the end", [](std::string& b) { b[4] = 100; }, nullptr, 4, "counts 100 records, but the file (582 bytes) holds only 4"},
        {"count huge", [](std::string& b) { b[7] = static_cast<char>(0xFF); }, nullptr, 4, "holds only 4"},
        {"cut inside the third record", [](std::string& b) { b.resize(kHeader + 2 * kRecord + 30); }, nullptr, 2,
         "counts 4 records"},
        {"no records left", [](std::string& b) { b.resize(kHeader); }, nullptr, 0, "holds only 0"},
        {"no end mark", [](std::string& b) { b.pop_back(); }, nullptr, 4},
        {"count smaller than the records", [](std::string& b) { b[4] = 2; }, nullptr, 2},
        {"record longer than the fields", [](std::string& b) { put16(b, 10, kRecord + 1); }, nullptr, 3,
         "its fields fill 65 bytes of each record, but its header says 66"},
        {"record length far too long", [](std::string& b) { put16(b, 10, 0xFFFF); }, nullptr, 0, "header says 65535"},
        {"header length one too long", [](std::string& b) { put16(b, 8, kHeader + 1); }, nullptr, 4,
         "record 1 does not begin with a deleted flag"},
        {"Visual FoxPro field offset wrong",
         [](std::string& b) {
             b[0] = 0x30;
             b[32 + 32 + 12] = 14;
         },
         nullptr, 4, "field PROBA begins at byte 13 of the record, but its header says 14"},
        {"last record shifted", [](std::string& b) { b[kHeader + 3 * kRecord] = '2'; }, nullptr, 4,
         "record 4 does not begin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = goodTable();
        c.damage(bytes);
        std::string error;
        const auto table = DbfTable::openStorage(std::make_unique<MemoryStorage>(bytes), "bad.dbf", {}, &error);
        if (c.error) {
            EXPECT_FALSE(table);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(error.rfind("Table \"bad.dbf\": ", 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(table) << error;
        EXPECT_EQ(table->recordCount(), c.records);
        if (c.fault)
            EXPECT_NE(table->damage().find(c.fault), std::string::npos) << table->damage();
        else
            EXPECT_EQ(table->damage(), "");
        DbfCursor cursor(*table);
        std::uint32_t n = 0;
        while (cursor.next()) {
            for (std::size_t f = 0; f < table->fields().size(); ++f)
                cursor.value(f);
            ++n;
        }
        EXPECT_EQ(n, c.records);
        std::string record;
        EXPECT_FALSE(table->readRecord(c.records, record, &error));
        EXPECT_NE(error.find("past the end"), std::string::npos) << error;
    }
}

// A file that shrinks after it was opened gives read errors or fewer records, not stale memory.
TEST(DbfDamage, FileCutAfterOpening)
{
    auto storage = std::make_unique<MemoryStorage>(goodTable());
    MemoryStorage* raw = storage.get();
    const auto table = DbfTable::openStorage(std::move(storage), "t.dbf", {});
    ASSERT_TRUE(table);
    std::string ignored;
    raw->truncate(kHeader + kRecord + 5, ignored);
    std::string record, error;
    EXPECT_TRUE(table->readRecord(0, record));
    EXPECT_FALSE(table->readRecord(1, record, &error));
    EXPECT_NE(error.find("no longer in the file"), std::string::npos) << error;
    DbfCursor cursor(*table);
    EXPECT_TRUE(cursor.next());
    EXPECT_FALSE(cursor.next());
    ASSERT_TRUE(table->refresh());
    EXPECT_EQ(table->recordCount(), 1u);
}

// A table that does not fit its file is read, but no write of any kind touches a byte of it.
TEST(DbfDamage, DamagedTableIsNeverWritten)
{
    const std::function<void(std::string&)> damages[] = {
        [](std::string& b) { put16(b, 10, 0xFFFF); },
        [](std::string& b) { put16(b, 10, kRecord + 1); },
        [](std::string& b) { b[4] = 100; },
        [](std::string& b) { put16(b, 8, kHeader + 1); },
    };
    for (const auto& damage : damages) {
        TempDir dir;
        const std::string path = (dir / "abon.dbf").string();
        std::string bytes = handTable({}, subscriberFields(), subscriberRecords("x"), {false, true});
        damage(bytes);
        writeFileBytes(path, bytes);
        std::string error;
        auto table = DbfTable::open(path, {.writable = true, .codePage = {}}, &error);
        ASSERT_TRUE(table) << error;
        SCOPED_TRACE(table->damage());
        ASSERT_NE(table->damage(), "");
        const std::string refusal = "Table \"abon.dbf\": it is damaged and is left unchanged until it is repaired: ";
        const auto refused = [&](bool ok) { return std::exchange(error, {}) == refusal + table->damage() && !ok; };
        EXPECT_TRUE(refused(table->pack(&error)));
        EXPECT_TRUE(refused(table->update(0, {{1, DbfValue::ofNumber(5)}}, &error)));
        EXPECT_TRUE(refused(table->append({{0, DbfValue::ofText("1")}}, nullptr, &error)));
        EXPECT_TRUE(refused(table->setDeleted(0, true, &error)));
        EXPECT_EQ(readFileBytes(path), bytes);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

}  // namespace
