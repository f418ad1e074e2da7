#include "send/ReplyEngine.h"

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/Codec.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <utility>

namespace {

// The longest one pass of the event loop spends sending replies.
constexpr qint64 SliceNs = 4 * 1000 * 1000;
// While the link holds too much, the timer only looks whether it has taken some.
constexpr int WaitingPollMs = 50;
constexpr qint64 NsPerMs = 1000 * 1000;

QString counted(qint64 n, const QString& one, const QString& many)
{
    return n == 1 ? QStringLiteral("1 ") + one : CountText(n) + QLatin1Char(' ') + many;
}

} // namespace

ReplyEngine::ReplyEngine(std::unique_ptr<ReplyLink> link, QObject* parent)
    : QObject(parent), m_link(std::move(link)), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ReplyEngine::send);
    m_clock.start();
}

ReplyEngine::~ReplyEngine() = default;

void ReplyEngine::setRules(const ReplySet& replies)
{
    m_rules = ReplyRules(replies.rules, replies.delimiter);
    m_carry.clear();
    m_buffer.clear();
    m_scanned = 0;
}

void ReplyEngine::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (on)
        m_replies = 0;
    else
        clear(QStringLiteral("replying was switched off"));
}

void ReplyEngine::streamArrived(const QByteArray& data)
{
    if (!m_enabled || m_rules.isEmpty())
        return;
    if (m_rules.delimiter().isEmpty())
        arrival(data);
    else
        cut(data);
}

void ReplyEngine::datagramArrived(const QByteArray& data, const QHostAddress& from, quint16 port)
{
    if (m_enabled && !m_rules.isEmpty())
        message(data, {}, from, port);
}

void ReplyEngine::arrival(const QByteArray& data)
{
    const qsizetype end = message(data, m_carry, {}, 0);
    const qsizetype keep = m_rules.longestContains() - 1;
    if (keep <= 0)
        m_carry.clear();
    else if (end >= 0) // what a match used is not matched again
        m_carry = data.mid(end).right(keep);
    else if (data.size() >= keep)
        m_carry = data.right(keep);
    else
        m_carry = (m_carry + data).right(keep);
}

void ReplyEngine::cut(const QByteArray& data)
{
    const QByteArray delimiter = m_rules.delimiter();
    m_buffer += data;
    qsizetype from = 0;
    // A delimiter may begin in the bytes already looked through.
    qsizetype scan = qMax<qsizetype>(0, m_scanned - (delimiter.size() - 1));
    qsizetype at = 0;
    while ((at = m_buffer.indexOf(delimiter, scan)) >= 0) {
        const qsizetype end = at + delimiter.size();
        message(m_buffer.mid(from, end - from), {}, {}, 0);
        if (!m_enabled)
            return;
        from = scan = end;
    }
    m_buffer.remove(0, from);
    m_scanned = m_buffer.size();
    if (m_buffer.size() > MaxMessage) {
        emit notice({QStringLiteral("No delimiter in ") + CountText(m_buffer.size()) +
                     QStringLiteral(" bytes") + QStringLiteral(": matched for a reply as they stand")});
        const QByteArray whole = std::exchange(m_buffer, {});
        m_scanned = 0;
        message(whole, {}, {}, 0);
    }
}

qsizetype ReplyEngine::message(const QByteArray& bytes, const QByteArray& before, const QHostAddress& from,
                               quint16 port)
{
    const std::optional<ReplyRules::Answer> answer = m_rules.answer(bytes, before);
    if (!answer)
        return -1;
    if (answer->bytes.isEmpty())
        return answer->end;
    // Nothing grows without bound while the peer does not read.
    if (!m_pending.empty() && (qsizetype(m_pending.size()) >= MaxHeldReplies ||
                               m_heldBytes + answer->bytes.size() > MaxHeldBytes)) {
        ++m_unanswered;
        return answer->end;
    }
    m_pending.push_back({m_clock.nsecsElapsed() + answer->delayMs * NsPerMs, answer->rule, answer->hex,
                         answer->bytes, from, port});
    m_heldBytes += answer->bytes.size();
    send();
    return answer->end;
}

void ReplyEngine::send()
{
    if (m_sending)
        return;
    const QScopedValueRollback<bool> sending(m_sending, true);
    QElapsedTimer slice;
    slice.start();
    while (m_enabled && !m_pending.empty()) {
        const qint64 waitNs = m_pending.front().dueNs - m_clock.nsecsElapsed();
        if (waitNs > 0) {
            m_timer->start(int((waitNs + NsPerMs - 1) / NsPerMs));
            return;
        }
        if (m_link->bytesWaiting() >= MaxHeldBytes) {
            m_timer->start(WaitingPollMs);
            return;
        }
        if (slice.nsecsElapsed() >= SliceNs) {
            m_timer->start(0);
            return;
        }
        const Pending p = std::move(m_pending.front());
        m_pending.pop_front();
        m_heldBytes -= p.bytes.size();
        try {
            m_link->send(p.bytes, p.to, p.port);
        } catch (const std::exception& e) {
            emit failed(p.rule + 1, KvErr::describe(e));
            continue;
        }
        ++m_replies;
        if (m_showSent) {
            QByteArrayList items{"Reply (rule " + QByteArray::number(p.rule + 1) + "):", p.bytes};
            if (p.hex)
                items.append(SpacedHex(p.bytes));
            emit replied(items);
        }
    }
    if (m_pending.empty())
        tellUnanswered();
}

void ReplyEngine::linkDrained()
{
    if (!m_pending.empty())
        send();
}

void ReplyEngine::connectionEnded()
{
    clear(QStringLiteral("the connection ended"));
}

void ReplyEngine::stopTicking()
{
    m_timer->stop();
    m_pending.clear();
    m_enabled = false;
}

void ReplyEngine::clear(const QString& why)
{
    m_timer->stop();
    const qsizetype dropped = qsizetype(m_pending.size());
    m_pending.clear();
    m_heldBytes = 0;
    m_carry.clear();
    m_buffer.clear();
    m_scanned = 0;
    if (dropped > 0)
        emit notice({counted(dropped, QStringLiteral("reply was"), QStringLiteral("replies were")) +
                     QStringLiteral(" not sent: ") + why});
    tellUnanswered();
}

void ReplyEngine::tellUnanswered()
{
    if (m_unanswered > 0)
        emit notice({counted(std::exchange(m_unanswered, 0), QStringLiteral("message was"),
                             QStringLiteral("messages were")) +
                     QStringLiteral(" not answered: the replies before them still waited for the peer")});
}
