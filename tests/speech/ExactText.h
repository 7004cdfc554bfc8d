// Test helper: a text held in a heap block of exactly its size, so a read past its end is caught.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace peltra::test {

// The bytes of a text without a terminating zero or spare capacity; under the address sanitizer
// any read beyond view().size() stops the test.
class ExactText {
public:
    explicit ExactText(std::string_view text);

    std::string_view view() const { return {m_bytes.get(), m_size}; }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
};

}  // namespace peltra::test
