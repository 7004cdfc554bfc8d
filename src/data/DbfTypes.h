// The building blocks of a dBase table: field descriptions, dates and decoded values.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace peltra::data {

// A calendar date as a D field holds it.
struct DbfDate {
    int year = 0;
    int month = 0;
    int day = 0;

    bool operator==(const DbfDate&) const = default;
    bool isValid() const;  // 1..9999, a real month and day of that month
    std::string text() const;  // "YYYY-MM-DD"
};

// One column of a table as its header describes it.
struct DbfField {
    std::string name;  // UTF-8, as stored (upper case in tables written by dBase tools)
    char type = 'C';  // the type letter as stored: C N F D L M, Visual FoxPro's I Y B T, or any other
    std::uint16_t length = 0;  // bytes in the record
    std::uint8_t decimals = 0;
    std::uint32_t offset = 0;  // from the start of the record, which begins with the deleted flag
    std::uint8_t flags = 0;  // Visual FoxPro field flags (0x02: may hold NULL)
    int nullBit = -1;  // the bit of a Visual FoxPro field's NULL mark in _NullFlags; -1 for none

    // Whether values of this field are decoded (C N F D L with a sound length); other fields read
    // as their raw bytes and cannot be written.
    bool isDecoded() const;
};

// A value read from or written to a field.
struct DbfValue {
    enum class Kind {
        Null,  // blank number, blank or all-zero date, '?' or blank logical
        Text,  // C field: UTF-8 with trailing blanks trimmed; memo text; T as "YYYY-MM-DD hh:mm:ss"
        Number,  // N and F fields; Visual FoxPro I, Y and B
        Date,  // D field
        Logical,  // L field
        Raw,  // a field type that is not decoded, or content that does not read as its type: bytes as stored
    };

    Kind kind = Kind::Null;
    std::string text;  // Text (UTF-8) and Raw (stored bytes)
    double number = 0;
    DbfDate date;
    bool logical = false;

    static DbfValue null() { return {}; }
    static DbfValue ofText(std::string value);
    static DbfValue ofNumber(double value);
    static DbfValue ofDate(DbfDate value);
    static DbfValue ofLogical(bool value);

    bool isNull() const { return kind == Kind::Null; }
    bool operator==(const DbfValue&) const = default;
};

// Values to write, each with the position of its field in the table's field list.
using DbfFieldValues = std::vector<std::pair<std::size_t, DbfValue>>;

// A field to create: name up to 10 characters (letters, digits, '_', starting with a letter), a type
// among C N F D L, the length (C 1..254, N/F 1..20, D 8, L 1) and decimals (N/F only).
struct DbfFieldSpec {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

}  // namespace peltra::data
