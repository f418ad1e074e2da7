#pragma once

#include <QList>
#include <QString>

#include <optional>

// A line sent from the line box, with the entry mode it was sent in.
struct HistoryLine
{
    QString text;
    bool hex = false;
    bool operator==(const HistoryLine& other) const;
    bool operator!=(const HistoryLine& other) const { return !(*this == other); }
};

// The lines sent from the line box, newest first, stepped through as a shell
// does: what was being typed is kept as a draft while the user looks back.
class LineHistory
{
public:
    static constexpr int MaxLines = 100;
    // Longer lines are recalled in this window but not saved.
    static constexpr qsizetype MaxSavedChars = 64 * 1024;

    // A line sent: it becomes the newest unless it equals the newest. Ends any recall under way.
    void add(const HistoryLine& line);
    // Up: the next older line. The first step keeps `current` (what the box holds) as the draft.
    // nullopt when there is nothing older (the box keeps what it has).
    std::optional<HistoryLine> older(const HistoryLine& current);
    // Down: the next newer line; past the newest, the draft. nullopt when not recalling.
    std::optional<HistoryLine> newer();
    // The user typed or the box was set otherwise: the next Up starts from the newest again.
    void endRecall();

    const QList<HistoryLine>& lines() const { return m_lines; }
    // Newest first, without those over MaxSavedChars.
    QList<HistoryLine> linesToSave() const;
    // At start-up; keeps at most MaxLines.
    void setLines(const QList<HistoryLine>& newestFirst);

private:
    QList<HistoryLine> m_lines;
    HistoryLine m_draft;
    // The line shown, counted from the newest; -1 while not recalling.
    qsizetype m_position = -1;
};
