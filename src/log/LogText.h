#pragma once

#include <QString>
#include <memory>
#include <vector>

// Characters in fixed-size chunks: growing never moves what is stored, so an
// append costs only its own length however long the text already is.
template <typename Unit> class ChunkedText
{
public:
    static constexpr int ChunkBits = 20;
    static constexpr qsizetype ChunkSize = qsizetype(1) << ChunkBits;

    qsizetype size() const { return m_size; }
    Unit at(qsizetype i) const { return m_chunks[size_t(i >> ChunkBits)][i & (ChunkSize - 1)]; }

    void append(QStringView text);
    void truncate(qsizetype size);
    void appendTo(QString& out, qsizetype from, qsizetype count) const;
    qsizetype indexOf(Unit unit, qsizetype from, qsizetype to) const;
    qsizetype lastIndexOf(QStringView needle) const;

private:
    std::vector<std::unique_ptr<Unit[]>> m_chunks;
    qsizetype m_size = 0;
};

// The log's characters, one byte each while they are all Latin-1 (everything
// the program writes is), two bytes each once a user types or pastes anything
// beyond it. Positions count characters either way.
class LogText
{
public:
    qsizetype size() const { return m_wide ? m_wideText.size() : m_latin.size(); }
    bool isEmpty() const { return size() == 0; }
    bool isWide() const { return m_wide; }

    char16_t at(qsizetype i) const { return m_wide ? m_wideText.at(i) : uchar(m_latin.at(i)); }
    QString toString() const { return mid(0, size()); }
    QString mid(qsizetype from, qsizetype count) const;

    void set(const QString& text);
    void append(QStringView text);
    void replace(qsizetype from, qsizetype count, const QString& with);

    // Next LF at or after from and before to (-1 for the end); -1 when none.
    qsizetype indexOfLf(qsizetype from, qsizetype to = -1) const;
    qsizetype lastIndexOf(const QString& needle) const;

    static bool isLatin1(QStringView text);

private:
    void widen();

    ChunkedText<char> m_latin;
    ChunkedText<char16_t> m_wideText;
    bool m_wide = false;
};
