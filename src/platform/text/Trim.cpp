// Blanks around texts, and texts made one line.
#include "platform/text/Trim.h"

namespace peltra::platform {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string oneLine(const std::string& text)
{
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' || text[i] == '\r')
            flat += " / ";
        else
            flat += text[i];
    }
    while (flat.size() >= 3 && flat.compare(flat.size() - 3, 3, " / ") == 0)
        flat.resize(flat.size() - 3);
    return flat;
}

}  // namespace peltra::platform
