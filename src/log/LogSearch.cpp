#include "log/LogSearch.h"

#include "log/LogStore.h"
#include "platform/ByteSearch.h"
#include "platform/KvError.h"

#include <QElapsedTimer>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// A pass of the event loop searches about this long, well within a frame.
constexpr qint64 SliceMs = 15;

} // namespace

// The needle, ready to be matched against text one or two bytes a
// character. Long stretches are skipped by Horspool's rule; exact Latin-1
// matches go through ByteSearch (the C library's memmem on Linux).
class TextMatcher
{
public:
    TextMatcher(QStringView needle, Qt::CaseSensitivity cs) : m_fold(cs == Qt::CaseInsensitive)
    {
        for (int c = 0; c < 256; ++c)
            m_latin1Keys[size_t(c)] = m_fold ? QChar::toCaseFolded(char16_t(c)) : char16_t(c);
        m_keys.reserve(size_t(needle.size()));
        for (QChar c : needle)
            m_keys.push_back(key(c.unicode()));
        // Text kept one byte a character can only match where every
        // character of the needle has a Latin-1 form.
        m_latin1Possible = std::all_of(m_keys.begin(), m_keys.end(), [this](char16_t k) {
            return std::find(m_latin1Keys.begin(), m_latin1Keys.end(), k) != m_latin1Keys.end();
        });
        if (!m_fold && m_latin1Possible)
            m_latin1 = needle.toLatin1();
        const qsizetype m = size();
        m_shift.fill(std::max<qsizetype>(1, m));
        for (qsizetype j = 0; j + 1 < m; ++j)
            m_shift[m_keys[size_t(j)] & 0xFF] = m - 1 - j;
    }

    qsizetype size() const { return qsizetype(m_keys.size()); }

    // Calls hit(start) for each match in p (n units) that starts at or before
    // lastStart, in order, until hit returns false; returns false then.
    template <typename Hit> bool scan(const char* p, qsizetype n, qsizetype lastStart, Hit&& hit) const
    {
        const qsizetype m = size();
        lastStart = std::min(lastStart, n - m);
        if (m == 0 || lastStart < 0 || !m_latin1Possible)
            return true;
        if (m_fold)
            return horspool(reinterpret_cast<const uchar*>(p), lastStart, hit);
        for (qsizetype i = 0; i <= lastStart; ++i) {
            const qsizetype at = ByteSearch::indexOf(p + i, lastStart - i + m, m_latin1.constData(), m);
            if (at < 0)
                break;
            i += at;
            if (!hit(i))
                return false;
        }
        return true;
    }

    template <typename Hit> bool scan(const char16_t* p, qsizetype n, qsizetype lastStart, Hit&& hit) const
    {
        lastStart = std::min(lastStart, n - size());
        if (size() == 0 || lastStart < 0)
            return true;
        return horspool(p, lastStart, hit);
    }

private:
    char16_t key(uchar c) const { return m_latin1Keys[c]; }
    char16_t key(char16_t c) const
    {
        if (c < 256)
            return m_latin1Keys[c];
        return m_fold ? QChar::toCaseFolded(c) : c;
    }

    template <typename Unit, typename Hit> bool horspool(const Unit* p, qsizetype lastStart, Hit& hit) const
    {
        const qsizetype last = size() - 1;
        const char16_t lastKey = m_keys[size_t(last)];
        for (qsizetype i = 0; i <= lastStart;) {
            const char16_t k = key(p[i + last]);
            if (k == lastKey) {
                qsizetype j = 0;
                while (j < last && key(p[i + j]) == m_keys[size_t(j)])
                    ++j;
                if (j == last && !hit(i))
                    return false;
            }
            i += m_shift[k & 0xFF];
        }
        return true;
    }

    bool m_fold;
    bool m_latin1Possible = false;
    std::vector<char16_t> m_keys;
    QByteArray m_latin1;
    std::array<char16_t, 256> m_latin1Keys{};
    std::array<qsizetype, 256> m_shift{};
};

LogSearch::LogSearch(const LogStore* store, QObject* parent) : QObject(parent), m_store(store) {}

LogSearch::~LogSearch() = default;

void LogSearch::start(const QString& needle, qsizetype from, bool forward, Qt::CaseSensitivity cs)
{
    m_matcher = std::make_unique<TextMatcher>(needle, cs);
    m_from = from;
    m_forward = forward;
    restart();
    m_timer.start(0, this);
}

void LogSearch::cancel()
{
    m_timer.stop();
}

// From the beginning, over the log as it is now.
void LogSearch::restart()
{
    m_revision = m_store->revision();
    m_total = m_store->size();
    m_from = std::clamp<qsizetype>(m_from, 0, m_total);
    m_stretch = 0;
    m_next = m_from;
    m_searched = 0;
}

void LogSearch::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (m_store->revision() != m_revision)
        restart();
    QElapsedTimer clock;
    clock.start();
    try {
        do {
            qsizetype position = -1;
            if (!step(position)) {
                m_timer.stop();
                if (position >= 0)
                    emit found(position, m_matcher->size(), m_stretch > 0);
                else
                    emit notFound();
                return;
            }
        } while (clock.elapsed() < SliceMs);
    } catch (const std::exception& e) {
        m_timer.stop();
        emit failed(KvErr::describe(e));
        return;
    }
    emit progress(m_searched, m_total);
}

// Searches one block of the current stretch. Returns false when the search
// is over: position is then the match, or -1 when there is none.
bool LogSearch::step(qsizetype& position)
{
    if (m_matcher->size() == 0 || m_matcher->size() > m_total)
        return false;
    // Forward: [from, end) then [0, from), each upwards; backward: [0, from)
    // then [from, end), each downwards.
    const bool upper = (m_stretch == 0) == m_forward;
    const qsizetype lo = upper ? m_from : 0;
    const qsizetype hi = upper ? m_total : m_from;
    if (m_forward ? m_next >= hi : m_next <= lo) {
        if (++m_stretch > 1)
            return false;
        m_next = m_forward ? 0 : m_total;
        return true;
    }
    qsizetype from = m_next;
    qsizetype to = m_next;
    if (m_forward)
        to = m_next = std::min(hi, m_next + BlockChars);
    else
        from = m_next = std::max(lo, m_next - BlockChars);
    position = searchBlock(from, to, !m_forward);
    m_searched += to - from;
    return position < 0;
}

// The first (or last) match that starts in [from, to); it may run on past
// to. The pieces come one chunk at a time: a match that spans two of them is
// found in the carry, the end of the text before the piece.
qsizetype LogSearch::searchBlock(qsizetype from, qsizetype to, bool last) const
{
    const TextMatcher& matcher = *m_matcher;
    const qsizetype m = matcher.size();
    const qsizetype end = std::min(to + m - 1, m_total);
    qsizetype result = -1;
    std::vector<char16_t> carry;
    qsizetype carryPos = from;
    std::vector<char16_t> window;
    auto record = [&](qsizetype at) {
        result = at;
        return last;
    };
    m_store->forEachPiece(from, end, [&](const LogPiece& p) {
        if (!carry.empty()) {
            window = carry;
            for (qsizetype i = 0; i < std::min(m - 1, p.length); ++i)
                window.push_back(p[i]);
            const qsizetype lastStart = std::min<qsizetype>(qsizetype(carry.size()) - 1, to - 1 - carryPos);
            if (!matcher.scan(window.data(), qsizetype(window.size()), lastStart,
                              [&](qsizetype i) { return record(carryPos + i); }))
                return false;
        }
        const qsizetype lastStart = to - 1 - p.position;
        const bool going = p.latin1 ? matcher.scan(p.latin1, p.length, lastStart,
                                                   [&](qsizetype i) { return record(p.position + i); })
                                    : matcher.scan(p.utf16, p.length, lastStart,
                                                   [&](qsizetype i) { return record(p.position + i); });
        if (!going)
            return false;
        // The last m - 1 characters so far, for a match that runs into the next piece.
        const qsizetype keep = std::min(m - 1, qsizetype(carry.size()) + p.length);
        const qsizetype fromPiece = std::min(keep, p.length);
        carry.erase(carry.begin(), carry.end() - (keep - fromPiece));
        for (qsizetype i = p.length - fromPiece; i < p.length; ++i)
            carry.push_back(p[i]);
        carryPos = p.position + p.length - keep;
        return true;
    });
    return result;
}
