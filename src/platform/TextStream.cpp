#include "platform/TextStream.h"

#include "platform/KvError.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr qint64 ChunkSize = 64 * 1024;
}

std::unique_ptr<TextStream> TextStream::open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw KvError(53, QStringLiteral("File not found"));
    if (info.isDir())
        throw KvError(75, QStringLiteral("Path/File access error"));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw KvError(75, QStringLiteral("Path/File access error: ") + file->errorString());
    return std::unique_ptr<TextStream>(new TextStream(std::move(file)));
}

TextStream::TextStream(std::unique_ptr<QFile> file) : m_file(std::move(file)) {}

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
    if (m_buffer.isEmpty()) {
        if (m_file->error() != QFileDevice::NoError)
            throw KvError(57, QStringLiteral("Device I/O error: ") + m_file->errorString());
        m_eof = true;
        return false;
    }
    return true;
}

bool TextStream::AtEndOfStream()
{
    return !fill();
}

QString TextStream::ReadLine()
{
    if (!fill())
        throw KvError(62, QStringLiteral("Input past end of file"));
    QByteArray line;
    for (;;) {
        if (!fill())
            break; // the last line needs no terminator
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        qsizetype end = m_pos;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        line.append(data + m_pos, end - m_pos);
        m_pos = end;
        if (end == size)
            continue;
        const char terminator = data[end];
        ++m_pos;
        // A CR may be followed by its LF in the next chunk.
        if (terminator == '\r' && fill() && m_buffer.at(m_pos) == '\n')
            ++m_pos;
        break;
    }
    return QString::fromLatin1(line);
}

void TextStream::Close()
{
    if (m_file)
        m_file->close();
    m_buffer.clear();
    m_pos = 0;
    m_eof = true;
}
