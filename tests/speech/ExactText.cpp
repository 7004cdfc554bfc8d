// Test helper: a text held in a heap block of exactly its size, so a read past its end is caught.
#include "ExactText.h"

#include <cstring>

namespace peltra::test {

ExactText::ExactText(std::string_view text)
    : m_bytes(new char[text.size()]), m_size(text.size())
{
    if (!text.empty())
        std::memcpy(m_bytes.get(), text.data(), text.size());
}

}  // namespace peltra::test
