// Test helper: the subscriber table used across the codec's tests, laid out by hand.
#pragma once

#include "HandDbf.h"

#include <string>
#include <vector>

namespace peltra::test {

// "Иванов Пётр" in the two Cyrillic code pages, written out byte by byte.
inline const std::string kIvanovCp866 = "\x88\xA2\xA0\xAD\xAE\xA2\x20\x8F\xF1\xE2\xE0";
inline const std::string kIvanovCp1251 = "\xC8\xE2\xE0\xED\xEE\xE2\x20\xCF\xB8\xF2\xF0";
inline const std::string kIvanovUtf8 = "Иванов Пётр";

// Left-justified text and right-aligned numbers, as dBase stores them.
inline std::string left(const std::string& s, std::size_t n) { return s + std::string(n - s.size(), ' '); }
inline std::string right(const std::string& s, std::size_t n) { return std::string(n - s.size(), ' ') + s; }

// TELEF C12, PROBA N3, OTBOJ N3, DATA D, CLOCK C8, FIO C11, SUMMA N10.2, FLAG L, RATE F8.3
inline std::vector<HandField> subscriberFields()
{
    return {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0},
            {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 11, 0},
            {"SUMMA", 'N', 10, 2}, {"FLAG", 'L', 1, 0},   {"RATE", 'F', 8, 3}};
}

// One record's bytes (without the deleted flag) from its fields' stored texts.
inline std::string subscriberRecord(const std::string& telef, const std::string& proba, const std::string& otboj,
                                    const std::string& data, const std::string& clock, const std::string& fio,
                                    const std::string& summa, const std::string& flag, const std::string& rate)
{
    return left(telef, 12) + right(proba, 3) + right(otboj, 3) + left(data, 8) + left(clock, 8) + left(fio, 11)
        + right(summa, 10) + flag + right(rate, 8);
}

// Four records: a notified one, a fresh one with blanks, a deleted one, one with a zero date.
inline std::vector<std::string> subscriberRecords(const std::string& fio)
{
    return {subscriberRecord("2345678", "2", "1", "20240305", "12:34:56", fio, "1234.50", "T", "-1.250"),
            subscriberRecord("89161234567", "", "", "", "", "", "", "?", ""),
            subscriberRecord("111", "1", "0", "20231231", "", "X", "0.00", "F", "1.5e2"),
            subscriberRecord("222", "0", "", "00000000", "", "", "-5.00", " ", "")};
}

}  // namespace peltra::test
