#include "send/LineHistory.h"

#include <utility>

bool HistoryLine::operator==(const HistoryLine& other) const
{
    return hex == other.hex && text == other.text;
}

void LineHistory::add(const HistoryLine& line)
{
    endRecall();
    if (!m_lines.isEmpty() && m_lines.first() == line)
        return;
    m_lines.prepend(line);
    if (m_lines.size() > MaxLines)
        m_lines.resize(MaxLines);
}

std::optional<HistoryLine> LineHistory::older(const HistoryLine& current)
{
    if (m_position + 1 >= m_lines.size())
        return std::nullopt;
    if (m_position < 0)
        m_draft = current;
    return m_lines.at(++m_position);
}

std::optional<HistoryLine> LineHistory::newer()
{
    if (m_position < 0)
        return std::nullopt;
    if (--m_position < 0)
        return std::exchange(m_draft, HistoryLine());
    return m_lines.at(m_position);
}

void LineHistory::endRecall()
{
    m_position = -1;
    m_draft = HistoryLine();
}

QList<HistoryLine> LineHistory::linesToSave() const
{
    QList<HistoryLine> saved;
    for (const HistoryLine& line : m_lines) {
        if (line.text.size() <= MaxSavedChars)
            saved.append(line);
    }
    return saved;
}

void LineHistory::setLines(const QList<HistoryLine>& newestFirst)
{
    endRecall();
    m_lines = newestFirst.mid(0, MaxLines);
}
