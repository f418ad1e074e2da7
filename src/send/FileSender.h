#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

class QTimer;
class TextStream;

// What the file sender needs of the connection it sends over.
class FileSendLink
{
public:
    virtual ~FileSendLink() = default;
    // Hands the bytes over to go out; throws KvError when the connection
    // cannot take them, and then has taken none.
    virtual void send(const QByteArray& bytes) = 0;
    // Bytes handed over that have not yet left the program.
    virtual qint64 bytesWaiting() const = 0;
    // The most one send may carry where each send is one message (a UDP
    // datagram); 0 for a byte stream, which takes a line in any number of pieces.
    virtual qint64 largestMessage() const = 0;
};

// What a report of an ended sending adds for the bytes the connection lost:
// "; the last 12 bytes were not sent", or nothing when none were.
QString unsentBytesText(qint64 bytes);

// Sends a text file line by line: one line each tick of its timer, and never faster than the
// connection takes the bytes, so that memory stays bounded whatever the file and the peer. It reports
// the items of each log entry through report(), those of the lines it sent, as bytes, through sent(),
// and whether a sending is under way (what the start/stop button shows) through runningChanged().
class FileSender : public QObject
{
    Q_OBJECT
public:
    // With this much waiting to go out, a tick sends nothing.
    static constexpr qint64 MaxWaitingBytes = 4 * 1024 * 1024;
    // The longest stretch of a line that is read and handed over at once:
    // one piece a pass of the event loop keeps each pass short.
    static constexpr qsizetype PieceBytes = 256 * 1024;

    explicit FileSender(std::unique_ptr<FileSendLink> link, QObject* parent = nullptr);
    ~FileSender() override;

    // Ticks while a sending is under way; its interval is the one the last start set.
    QTimer* timer() const { return m_timer; }
    bool isFileOpen() const { return m_fileOpen; }

    // Where the sending stands: the file, the number of the line under way
    // (0 before the first), and how much of the file has been read.
    struct Progress
    {
        QString path;
        qint64 line = 0;
        qint64 bytesRead = 0;
        qint64 fileSize = 0;
    };
    Progress progress() const;
    bool isRunning() const { return m_running; }

    // Read at every line: CR LF after each line, and each line logged as sent.
    void setAppendCrLf(bool append) { m_appendCrLf = append; }
    void setShowSent(bool show) { m_showSent = show; }

    // Opens a file in place of the open one; the next tick reads its first
    // line. Throws KvError, and then no file is open for the next start.
    void open(const QString& path);
    // No file for the next start. A sending under way goes on to the end of
    // the file it reads.
    void forgetFile();
    // Reports why it cannot start, or starts ticking at the interval the
    // text holds. Throws KvError for an interval the timer refuses; the
    // entries already reported stay.
    void start(const QString& intervalText, bool connected);
    void stop();
    // The connection to the peer has ended, for good or with the server
    // listening again for another. A sending under way stops and says
    // at which line, and what the connection lost with it; the file stays
    // open where it was, so a later start goes on from there.
    void connectionEnded();
    // Nothing ticks or reports any more: the window is closing.
    void stopTicking();
    // Bytes waiting to go out were lost with the connection; a sending under
    // way fails at its next tick rather than carry on, or complete, over the
    // gap. Bytes of a connection closed earlier belong to a sending that has
    // ended with it, not to one under way on the next connection.
    void dataLost(qint64 bytes, bool closedEarlier = false);
    // Sending failed though the connection stays open (a UDP host that
    // cannot be found): a sending under way stops at once, saying why and
    // how many of the bytes it handed over were lost.
    void sendingFailed(const QString& description, qint64 unsentBytes);
    // The connection took some of the waiting bytes: a sending that waits
    // for it goes on at once instead of at its next tick.
    void linkDrained();

signals:
    void report(const QStringList& items);
    void sent(const QByteArrayList& items);
    void runningChanged(bool running);

private:
    // How the timer ticks: one line an interval; polling while the
    // connection holds too much; at once while a line is under way, sent or
    // read away piece by piece.
    enum class Pace
    {
        Lines,
        Waiting,
        AtOnce
    };
    // A stretch of one line, as read from the file.
    struct Piece
    {
        QByteArray bytes;
        qint64 line = 0;   // its line's number, from 1
        qint64 offset = 0; // bytes of the line before it
        bool endsLine = false;
    };

    void tick();
    void sendDatagramLine(qint64 largest);
    void sendPiece(const Piece& piece);
    Piece nextPiece();
    bool skipRestOfLine();
    void complete();
    void fail(const QStringList& why);
    void reportEnd();
    // Where the connection left the sending, and what it lost.
    QString endedText();
    // How far the sending came: lines and bytes of a line that went out.
    static QString whereText(qint64 line, qint64 offset);
    void setRunning(bool running);
    void setPace(Pace pace);
    void clearLine();

    std::unique_ptr<FileSendLink> m_link;
    QTimer* m_timer = nullptr;
    std::unique_ptr<TextStream> m_stream;
    QString m_path;
    bool m_fileOpen = false;
    bool m_running = false;
    bool m_appendCrLf = true;
    bool m_showSent = true;
    qint32 m_interval = 0;
    Pace m_pace = Pace::Lines;
    // Bytes the connection lost while a sending was under way.
    qint64 m_lostBytes = 0;
    // The connection ended; the stop is reported once its close has told its losses.
    bool m_endPending = false;

    // The line being read: its number, the bytes of it read so far, and
    // whether more of it is still in the file.
    qint64 m_line = 0;
    qint64 m_lineOffset = 0;
    bool m_inLine = false;
    // The rest of the current line is read and dropped: it cannot be sent.
    bool m_skipping = false;
    // A piece the connection could not take; the next start sends it first.
    std::optional<Piece> m_held;
};
