// Dates, field descriptions and values of dBase tables.
#include "data/DbfTypes.h"

#include <cstdio>

namespace peltra::data {

bool DbfDate::isValid() const
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= days;
}

std::string DbfDate::text() const
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
    return buffer;
}

bool DbfField::isDecoded() const
{
    switch (type) {
    case 'C': return true;
    case 'N':
    case 'F': return length <= 64;
    case 'D': return length == 8;
    case 'L': return length == 1;
    default: return false;
    }
}

DbfValue DbfValue::ofText(std::string value)
{
    DbfValue v;
    v.kind = Kind::Text;
    v.text = std::move(value);
    return v;
}

DbfValue DbfValue::ofNumber(double value)
{
    DbfValue v;
    v.kind = Kind::Number;
    v.number = value;
    return v;
}

DbfValue DbfValue::ofDate(DbfDate value)
{
    DbfValue v;
    v.kind = Kind::Date;
    v.date = value;
    return v;
}

DbfValue DbfValue::ofLogical(bool value)
{
    DbfValue v;
    v.kind = Kind::Logical;
    v.logical = value;
    return v;
}

}  // namespace peltra::data
