#include "log/LogText.h"

#include <algorithm>
#include <cstring>

namespace {

void store(char* dst, const QChar* src, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        dst[i] = char(src[i].unicode());
}

void store(char16_t* dst, const QChar* src, qsizetype n)
{
    std::memcpy(dst, src, size_t(n) * sizeof(char16_t));
}

void load(QString& out, const char* src, qsizetype n)
{
    out.append(QLatin1StringView(src, n));
}

void load(QString& out, const char16_t* src, qsizetype n)
{
    out.append(QStringView(src, n));
}

qsizetype find(const char* s, qsizetype n, char unit)
{
    const void* hit = std::memchr(s, unit, size_t(n));
    return hit ? static_cast<const char*>(hit) - s : -1;
}

qsizetype find(const char16_t* s, qsizetype n, char16_t unit)
{
    return QStringView(s, n).indexOf(QChar(unit));
}

// Last place of needle in s; a Latin-1 needle for a Latin-1 chunk.
qsizetype findLast(const char* s, qsizetype n, QStringView needle)
{
    return QByteArrayView(s, n).lastIndexOf(needle.toLatin1());
}

qsizetype findLast(const char16_t* s, qsizetype n, QStringView needle)
{
    return QStringView(s, n).lastIndexOf(needle);
}

} // namespace

template <typename Unit> void ChunkedText<Unit>::append(QStringView text)
{
    const QChar* src = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        const qsizetype offset = m_size & (ChunkSize - 1);
        if (offset == 0 && size_t(m_size >> ChunkBits) == m_chunks.size())
            m_chunks.emplace_back(new Unit[size_t(ChunkSize)]);
        const qsizetype n = std::min(left, ChunkSize - offset);
        store(m_chunks[size_t(m_size >> ChunkBits)].get() + offset, src, n);
        src += n;
        left -= n;
        m_size += n;
    }
}

template <typename Unit> void ChunkedText<Unit>::truncate(qsizetype size)
{
    m_size = std::clamp<qsizetype>(size, 0, m_size);
    m_chunks.resize(size_t((m_size + ChunkSize - 1) >> ChunkBits));
}

template <typename Unit> void ChunkedText<Unit>::appendTo(QString& out, qsizetype from, qsizetype count) const
{
    const qsizetype end = from + count;
    while (from < end) {
        const qsizetype offset = from & (ChunkSize - 1);
        const qsizetype n = std::min(end - from, ChunkSize - offset);
        load(out, m_chunks[size_t(from >> ChunkBits)].get() + offset, n);
        from += n;
    }
}

template <typename Unit> qsizetype ChunkedText<Unit>::indexOf(Unit unit, qsizetype from, qsizetype to) const
{
    while (from < to) {
        const qsizetype offset = from & (ChunkSize - 1);
        const qsizetype n = std::min(to - from, ChunkSize - offset);
        const qsizetype hit = find(m_chunks[size_t(from >> ChunkBits)].get() + offset, n, unit);
        if (hit >= 0)
            return from + hit;
        from += n;
    }
    return -1;
}

template <typename Unit> qsizetype ChunkedText<Unit>::lastIndexOf(QStringView needle) const
{
    const qsizetype m = needle.size();
    if (m == 0)
        return m_size;
    if (m > m_size)
        return -1;
    for (qsizetype k = qsizetype(m_chunks.size()) - 1; k >= 0; --k) {
        const qsizetype start = k << ChunkBits;
        const qsizetype length = std::min(ChunkSize, m_size - start);
        // A match that runs into the next chunk, which was searched already.
        const qsizetype end = start + length;
        if (end < m_size && m > 1) {
            const qsizetype from = std::max<qsizetype>(0, end - (m - 1));
            QString seam;
            appendTo(seam, from, std::min(m_size, end + m - 1) - from);
            const qsizetype hit = QStringView(seam).lastIndexOf(needle);
            if (hit >= 0 && from + hit < end)
                return from + hit;
        }
        const qsizetype hit = findLast(m_chunks[size_t(k)].get(), length, needle);
        if (hit >= 0)
            return start + hit;
    }
    return -1;
}

template class ChunkedText<char>;
template class ChunkedText<char16_t>;

bool LogText::isLatin1(QStringView text)
{
    // An OR over all characters: simple enough for the compiler to vectorise.
    char16_t bits = 0;
    for (QChar c : text)
        bits |= c.unicode();
    return bits < 0x100;
}

QString LogText::mid(qsizetype from, qsizetype count) const
{
    from = std::clamp<qsizetype>(from, 0, size());
    count = std::clamp<qsizetype>(count, 0, size() - from);
    QString out;
    out.reserve(count);
    if (m_wide)
        m_wideText.appendTo(out, from, count);
    else
        m_latin.appendTo(out, from, count);
    return out;
}

void LogText::set(const QString& text)
{
    m_latin.truncate(0);
    m_wideText.truncate(0);
    m_wide = false;
    append(text);
}

void LogText::append(QStringView text)
{
    if (!m_wide && !isLatin1(text))
        widen();
    if (m_wide)
        m_wideText.append(text);
    else
        m_latin.append(text);
}

// Edits come from the user only: the text after the edit is written again.
void LogText::replace(qsizetype from, qsizetype count, const QString& with)
{
    const qsizetype tailFrom = std::min(from + count, size());
    const QString tail = mid(tailFrom, size() - tailFrom);
    if (m_wide)
        m_wideText.truncate(from);
    else
        m_latin.truncate(from);
    append(with);
    append(tail);
}

qsizetype LogText::indexOfLf(qsizetype from, qsizetype to) const
{
    const qsizetype end = to < 0 ? size() : std::min(to, size());
    if (m_wide)
        return m_wideText.indexOf(u'\n', from, end);
    return m_latin.indexOf('\n', from, end);
}

qsizetype LogText::lastIndexOf(const QString& needle) const
{
    if (m_wide)
        return m_wideText.lastIndexOf(needle);
    if (!isLatin1(needle))
        return -1;
    return m_latin.lastIndexOf(needle);
}

void LogText::widen()
{
    const QString all = toString();
    m_latin.truncate(0);
    m_wide = true;
    m_wideText.append(all);
}
