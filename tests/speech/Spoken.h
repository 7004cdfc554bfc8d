// Test helpers for the spoken forms: exactly sized input texts and phrase codes written in one line.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::test {

using Codes = std::vector<std::string>;

// The bytes of a text without a terminating zero or spare capacity; under the address sanitizer
// any read beyond view().size() stops the test.
class ExactText {
public:
    explicit ExactText(std::string_view text) : m_bytes(new char[text.size()]), m_size(text.size())
    {
        if (!text.empty())
            std::memcpy(m_bytes.get(), text.data(), text.size());
    }

    std::string_view view() const { return {m_bytes.get(), m_size}; }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
};

// "_01A|+13 |__PS" as its codes; codes keep their blanks, an empty text is no code at all.
inline Codes codes(std::string_view text)
{
    Codes list;
    for (std::size_t from = 0; !text.empty() && from <= text.size();) {
        const std::size_t bar = std::min(text.find('|', from), text.size());
        list.emplace_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    return list;
}

// Runs a converter over an exactly sized copy of the text.
template <typename Convert>
Codes spoken(std::string_view text, Convert convert)
{
    Codes list;
    const ExactText exact(text);
    convert(list, exact.view());
    return list;
}

}  // namespace peltra::test
