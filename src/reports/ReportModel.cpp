// The report's row pool and the texts shared by every output.
#include "reports/ReportModel.h"

#include <cmath>
#include <cstdio>

namespace peltra::reports {

std::string_view ReportRows::cell(std::size_t row, std::size_t column) const
{
    const std::size_t index = row * m_columns + column;
    const std::uint32_t begin = column == 0 ? 0 : m_cellEnds[index - 1];
    return std::string_view(m_text).substr(m_rowStarts[row] + begin, m_cellEnds[index] - begin);
}

void ReportRows::append(const std::vector<std::string>& cells)
{
    const std::size_t start = m_text.size();
    m_rowStarts.push_back(start);
    for (std::size_t i = 0; i < m_columns; ++i) {
        if (i < cells.size())
            m_text += cells[i];
        // A row's text is a few hundred bytes; a 4-byte offset within it keeps a million rows small.
        m_cellEnds.push_back(static_cast<std::uint32_t>(m_text.size() - start));
    }
}

void ReportRows::clear()
{
    m_text.clear();
    m_rowStarts.clear();
    m_cellEnds.clear();
}

std::size_t ReportRows::bytesHeld() const
{
    return m_text.capacity() + m_rowStarts.capacity() * sizeof(std::uint64_t) +
           m_cellEnds.capacity() * sizeof(std::uint32_t);
}

std::string rowCountText(std::size_t rows) { return "Всего строк: " + std::to_string(rows); }

std::string pageText(int page, int pageCount)
{
    return "Стр. " + std::to_string(page) + " из " + std::to_string(pageCount);
}

std::string totalText(double total)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::round(total * 100.0) / 100.0);
    std::string text = buffer;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    if (text == "-0")
        text = "0";
    return text;
}

}  // namespace peltra::reports
