#pragma once

#include <QBasicTimer>
#include <QObject>
#include <QString>

#include <memory>

class LogStore;
class TextMatcher;

// Finds text in the log, however long, without holding up the window. The
// store is read a few milliseconds at a time, one pass of the event loop
// each, on the store's own thread, so nothing changes under a pass. The
// search covers the whole log and goes round its end. Text appended while it
// runs is left for the next search; an edit, a clear or text dropped at the
// start begins it again.
//
// Matching is exact, or ignores case by Unicode case folding; the text's
// chunks are read one byte a character where the store keeps them so, and a
// match may run across chunks, in memory and in the file alike.
class LogSearch : public QObject
{
    Q_OBJECT

public:
    explicit LogSearch(const LogStore* store, QObject* parent = nullptr);
    ~LogSearch() override;

    // Forward: the first match that starts at from or after it, else the
    // first from the start. Backward: the last match that starts before
    // from, else the last of the whole log. A search under way gives way.
    void start(const QString& needle, qsizetype from, bool forward, Qt::CaseSensitivity cs);
    void cancel();
    bool isRunning() const { return m_timer.isActive(); }

    // Characters read in one pass of the event loop before its time is checked.
    static constexpr qsizetype BlockChars = qsizetype(4) << 20;

signals:
    // wrapped: the match lies beyond the log's end (or start) from where the search began.
    void found(qsizetype position, qsizetype length, bool wrapped);
    void notFound();
    void progress(qint64 searched, qint64 total);
    // The log could not be read (its file, memory): nothing was found.
    void failed(const QString& description);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void restart();
    bool step(qsizetype& position);
    qsizetype searchBlock(qsizetype from, qsizetype to, bool last) const;

    const LogStore* m_store;
    std::unique_ptr<TextMatcher> m_matcher;
    QBasicTimer m_timer;
    quint64 m_revision = 0;
    qsizetype m_from = 0;
    bool m_forward = true;
    // The text searched: the log as it was when the search began.
    qsizetype m_total = 0;
    // Two stretches of match starts, in the order they are searched, and
    // where the search stands in the current one.
    int m_stretch = 0;
    qsizetype m_next = 0;
    qint64 m_searched = 0;
};
