// libFuzzer target: arbitrary bytes as a dBase table, opened from memory, read whole, then written to.
#include "data/DbfTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace peltra::data;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Every counted record lies inside the input; every field decodes without reading past its record.
void readAll(const DbfTable& table, std::size_t inputSize)
{
    check(table.headerLength() + std::uint64_t(table.recordCount()) * table.recordLength() <= inputSize);
    check(table.recordCount() <= table.declaredRecordCount());
    for (const auto& field : table.fields())
        check(field.length > 0 && field.offset + field.length <= table.recordLength());
    DbfCursor cursor(table, 256);
    std::uint32_t n = 0;
    DbfValue value;
    while (cursor.next()) {
        check(cursor.record().size() == table.recordLength());
        for (std::size_t f = 0; f < table.fields().size(); ++f) {
            cursor.value(f, value);
            if (value.kind == DbfValue::Kind::Date)
                check(value.date.isValid());
        }
        ++n;
    }
    check(n == table.recordCount());
}

// A value written to a field reads back as written (text, numbers that fit, dates) or is refused
// with the record unchanged.
void writeBack(DbfTable& table, MemoryStorage& memory)
{
    if (table.recordCount() == 0 || table.fields().empty())
        return;
    std::string before;
    check(table.readRecord(0, before));
    for (std::size_t f = 0; f < table.fields().size() && f < 8; ++f) {
        const DbfField& field = table.fields()[f];
        DbfValue value = table.value(before, f);
        const std::string bytesBefore = memory.bytes();
        std::string error;
        if (!table.update(0, {{f, value}}, &error)) {
            check(!error.empty());
            check(memory.bytes() == bytesBefore);
            continue;
        }
        std::string after;
        check(table.readRecord(0, after));
        const DbfValue again = table.value(after, f);
        if (field.isDecoded() && value.kind != DbfValue::Kind::Raw && value.kind != DbfValue::Kind::Number)
            check(again == value);
    }
    std::uint32_t index = 0;
    const std::uint32_t count = table.recordCount();
    if (table.append({}, &index))
        check(index == count && table.recordCount() == count + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    auto storage = std::make_unique<MemoryStorage>(input);
    MemoryStorage* memory = storage.get();
    std::string error;
    DbfTable::Options options;
    options.writable = true;
    auto table = DbfTable::openStorage(std::move(storage), "fuzz.dbf", options, &error);
    if (!table) {
        check(error.rfind("Table \"fuzz.dbf\": ", 0) == 0);
        return 0;
    }
    readAll(*table, size);
    writeBack(*table, *memory);
    return 0;
}
