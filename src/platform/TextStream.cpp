#include "platform/TextStream.h"

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

constexpr int ErrPastEnd = 62;
constexpr int ErrFileChanged = KvErr::PathAccess;

} // namespace

KvError notRegularFile(std::filesystem::file_type type)
{
    namespace fs = std::filesystem;
    const char* kind = type == fs::file_type::directory   ? "a folder"
                       : type == fs::file_type::fifo      ? "a named pipe (FIFO)"
                       : type == fs::file_type::character ? "a character device"
                       : type == fs::file_type::block     ? "a block device"
                       : type == fs::file_type::socket    ? "a socket"
                                                          : "a special file";
    return KvError(KvErr::PathAccess,
                   QStringLiteral("Path/File access error: this is %1, not a regular file; only regular "
                                  "files can be sent")
                       .arg(QLatin1String(kind)));
}

std::unique_ptr<TextStream> TextStream::open(const QString& path)
{
    return std::unique_ptr<TextStream>(
        new TextStream(openRegularFile(path), QFileInfo(path).absoluteFilePath()));
}

TextStream::TextStream(std::unique_ptr<QFile> file, const QString& path)
    : m_file(std::move(file)), m_path(path), m_opened(identityOf(*m_file))
{
    m_size = m_opened.size;
}

bool TextStream::reopenIfChanged()
{
    const std::optional<FileIdentity> atPath = identityAt(m_path);
    if (!atPath || *atPath == m_opened)
        return false;
    std::unique_ptr<QFile> file = openRegularFile(m_path);
    const FileIdentity opened = identityOf(*file);
    m_file = std::move(file);
    m_opened = opened;
    m_size = opened.size;
    m_buffer.clear();
    m_pos = 0;
    m_eof = false;
    return true;
}

qint64 TextStream::position() const
{
    return m_file && m_file->isOpen() ? m_file->pos() - (m_buffer.size() - m_pos) : m_size;
}

TextStream::~TextStream() = default;

// Keeps at least one byte ahead of m_pos in the buffer unless the file is done.
bool TextStream::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (m_eof || !m_file || !m_file->isOpen())
        return false;
    m_buffer = m_file->read(ChunkSize);
    m_pos = 0;
    if (m_buffer.isEmpty() && m_file->error() != QFileDevice::NoError)
        throw KvError(KvErr::DeviceIO, QStringLiteral("Device I/O error: ") + m_file->errorString());
    if (m_buffer.isEmpty()) {
        m_eof = true;
        return false;
    }
    return true;
}

void TextStream::requireUnchanged(const QString& where)
{
    if (!m_file->isOpen())
        return;
    // An fstat and a stat: cheap enough to ask before every line goes out.
    const FileIdentity now = identityOf(*m_file);
    QString change;
    if (now.size < m_opened.size) {
        change = QStringLiteral("The file shrank while it was sent, %1: %2 bytes when it was opened, %3 now")
                     .arg(where, CountText(m_opened.size), CountText(now.size));
    } else if (now.size != m_opened.size || now.modified != m_opened.modified) {
        change = QStringLiteral("The file was changed while it was sent, ") + where;
    } else if (const std::optional<FileIdentity> atPath = identityAt(m_path)) {
        // A file saved in its place leaves the open one as it was, but it is
        // no longer the file the user chose; it differs from the open one in
        // something. One that is only deleted is still the file, though its
        // unlinking touched its status-change time. Written in place with its
        // times set back, the file shows it only by that time.
        if (*atPath != now)
            change = QStringLiteral("The file was replaced while it was sent, ") + where;
        else if (now.statusChanged != m_opened.statusChanged)
            change = QStringLiteral("The file was changed while it was sent, ") + where;
    }
    if (!change.isEmpty())
        throw KvError(ErrFileChanged, change);
}

bool TextStream::AtEndOfStream()
{
    return !fill();
}

QByteArray TextStream::ReadPiece(qsizetype maxBytes, bool& lineEnded)
{
    if (!fill())
        throw KvError(ErrPastEnd, QStringLiteral("Input past end of file"));
    QByteArray piece;
    while (piece.size() < maxBytes) {
        if (!fill()) {
            lineEnded = true; // the last line needs no terminator
            return piece;
        }
        const char* data = m_buffer.constData();
        const qsizetype end = m_pos + qMin(m_buffer.size() - m_pos, maxBytes - piece.size());
        qsizetype stop = m_pos;
        while (stop < end && data[stop] != '\n' && data[stop] != '\r')
            ++stop;
        piece.append(data + m_pos, stop - m_pos);
        m_pos = stop;
        if (stop < end)
            break; // at a terminator
    }
    lineEnded = takeLineEnd();
    return piece;
}

bool TextStream::takeLineEnd()
{
    if (!fill())
        return true;
    const char c = m_buffer.at(m_pos);
    if (c != '\n' && c != '\r')
        return false;
    ++m_pos;
    // A CR may be followed by its LF in the next chunk.
    if (c == '\r' && fill() && m_buffer.at(m_pos) == '\n')
        ++m_pos;
    return true;
}

void TextStream::Close()
{
    if (m_file)
        m_file->close();
    m_buffer.clear();
    m_pos = 0;
    m_eof = true;
}
