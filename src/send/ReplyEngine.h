#pragma once

#include "send/ReplyRule.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QStringList>

#include <deque>
#include <memory>

class QTimer;

// Where replies go: the connection's peer, or the sender of a datagram.
class ReplyLink
{
public:
    virtual ~ReplyLink() = default;
    // To the TCP peer when `to` is null, else one datagram to that address and
    // port. Throws KvError when the bytes cannot go, and then took none.
    virtual void send(const QByteArray& bytes, const QHostAddress& to, quint16 port) = 0;
    // Bytes handed over that have not yet left the program.
    virtual qint64 bytesWaiting() const = 0;
};

// Answers messages by the rules: each arrival of the stream, or each message
// cut after a delimiter, or each datagram, gets the reply of the first rule
// that matches it. Replies leave after their delay, in the order of the
// messages that caused them, and only as fast as the peer takes them: while
// the link holds as much as a file sending may, they wait, and once as many
// wait as the link may hold, further messages go unanswered and the log says
// how many. Switching off drops what waits at once.
class ReplyEngine : public QObject
{
    Q_OBJECT
public:
    // Past this, bytes without a delimiter are matched as they stand.
    static constexpr qsizetype MaxMessage = 1024 * 1024;
    // What may wait for its delay or for the peer.
    static constexpr qint64 MaxHeldBytes = 4 * 1024 * 1024;
    static constexpr qsizetype MaxHeldReplies = 65536;

    explicit ReplyEngine(std::unique_ptr<ReplyLink> link, QObject* parent = nullptr);
    ~ReplyEngine() override;

    // Rules that are off or cannot work never answer. The stream starts afresh.
    void setRules(const ReplySet& replies);
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }
    // Replies sent since replying was switched on.
    qint64 replies() const { return m_replies; }
    // Each reply as its "Reply (rule N):" entry through replied().
    void setShowSent(bool show) { m_showSent = show; }

    // What the log got: an arrival of the TCP stream, or one datagram with its sender.
    void streamArrived(const QByteArray& data);
    void datagramArrived(const QByteArray& data, const QHostAddress& from, quint16 port);
    // The connection ended: what waits is dropped and told; the next one starts afresh.
    void connectionEnded();
    // The link took some bytes: replies that wait for it go on.
    void linkDrained();
    // Nothing ticks any more: the window is closing.
    void stopTicking();

signals:
    void replied(const QByteArrayList& items);
    // A reply could not be sent; the rule is counted from 1.
    void failed(int rule, const QString& description);
    void notice(const QStringList& items);

private:
    struct Pending
    {
        qint64 dueNs = 0;
        int rule = 0;
        bool hex = false;
        QByteArray bytes;
        QHostAddress to;
        quint16 port = 0;
    };
    // Queues the reply of the first rule that answers; returns where its match
    // ended in the message, or -1 when none matched.
    qsizetype message(const QByteArray& bytes, const QByteArray& before, const QHostAddress& from,
                      quint16 port);
    // A TCP arrival with no delimiter; the unused end of the stream carries on.
    void arrival(const QByteArray& data);
    void cut(const QByteArray& data);
    void send();
    void clear(const QString& why);
    void tellUnanswered();

    std::unique_ptr<ReplyLink> m_link;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_clock;
    ReplyRules m_rules;
    bool m_enabled = false;
    bool m_showSent = true;
    bool m_sending = false;
    qint64 m_replies = 0;
    // The end of the stream that a `contains` pattern may begin in.
    QByteArray m_carry;
    // Delimited: the message under way.
    QByteArray m_buffer;
    qsizetype m_scanned = 0;
    std::deque<Pending> m_pending;
    qint64 m_heldBytes = 0;
    qint64 m_unanswered = 0;
};
