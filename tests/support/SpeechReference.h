// How a sum is spoken, written from the counting rules independently of the speech library.
#pragma once

#include "speech/Numbers.h"

#include <string>
#include <vector>

namespace peltra::test {

using ReferenceCodes = std::vector<std::string>;

// The reference: how a value 1-999 is spoken, and which of the three forms a counted word takes.
inline void referenceWords(ReferenceCodes& out, unsigned n, bool feminine)
{
    if (n >= 100)
        out.push_back("_" + std::to_string(n / 100) + "00");
    const unsigned rest = n % 100;
    if (rest >= 10 && rest < 20) {
        out.push_back("_0" + std::to_string(rest));
        return;
    }
    if (rest >= 20)
        out.push_back("_0" + std::to_string(rest / 10) + "0");
    const unsigned digit = rest % 10;
    if (digit != 0)
        out.push_back(feminine && digit == 1 ? "_01A" : feminine && digit == 2 ? "_02E" : "_00" + std::to_string(digit));
}

// 0: after 1 (21, 101), 1: after 2-4 (22, 104), 2: after 0, 5-9 and 11-19.
inline int referenceForm(unsigned n)
{
    const unsigned digit = n % 10;
    if ((n % 100) / 10 == 1 || digit == 0 || digit >= 5)
        return 2;
    return digit == 1 ? 0 : 1;
}

struct ReferenceWords {
    const char* forms[3];
    bool feminine;
};

struct CurrencyRule {
    speech::Currency currency;
    ReferenceWords unit;
    ReferenceWords minor;
};

inline const CurrencyRule kCurrencyRules[] = {
    {speech::Currency::Hryvnia, {{"+GRA", "+GRI", "+GRE"}, true}, {{"+SS ", "+SSI", "+SSK"}, true}},
    {speech::Currency::Rouble, {{"+RR ", "+RRA", "+RRE"}, false}, {{"+SS ", "+SSI", "+SSK"}, true}},
    {speech::Currency::Dollar, {{"+DLR", "+DLA", "+DLV"}, false}, {{"+CNT", "+CNA", "+CNV"}, false}},
    {speech::Currency::Euro, {{"+EUR", "+EUR", "+EUR"}, false}, {{"+CNT", "+CNA", "+CNV"}, false}},
};

inline void referenceCounted(ReferenceCodes& out, unsigned n, const ReferenceWords& words, bool pause)
{
    referenceWords(out, n, words.feminine);
    if (pause)
        out.emplace_back("__PS");
    out.emplace_back(words.forms[referenceForm(n)]);
}

// The codes of whole units and minor units in the rule's currency: millions, thousands (feminine),
// the units, each counted; "ноль" of the unit when there is nothing at all.
inline ReferenceCodes referenceMoney(unsigned whole, unsigned minor, const CurrencyRule& rule)
{
    ReferenceCodes out;
    if (whole == 0 && minor == 0)
        return {"_000", "__PS", rule.unit.forms[2]};
    if (whole != 0) {
        if (const unsigned millions = whole / 1000000)
            referenceCounted(out, millions, {{"+16 ", "+16A", "+16B"}, false}, false);
        if (const unsigned thousands = whole / 1000 % 1000)
            referenceCounted(out, thousands, {{"+13 ", "+13I", "+130"}, true}, false);
        if (const unsigned units = whole % 1000)
            referenceCounted(out, units, rule.unit, true);
        else
            out.insert(out.end(), {"__PS", rule.unit.forms[2]});
    }
    if (minor != 0)
        referenceCounted(out, minor, rule.minor, false);
    return out;
}

}  // namespace peltra::test
