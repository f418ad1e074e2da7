#pragma once

#include "platform/KvError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

class QFile;

// Reads a file one line at a time for sending. A line ends at CR LF, LF or a
// lone CR and comes back without its terminator; every byte is one character
// (Latin-1), so a line goes to the peer exactly as it stands in the file.
// Reading goes only as far as the file stays as it was opened: once it is
// cut short, changed, or replaced by another file at its path, every read
// throws KvError saying so, and the end of the file is never reported.
class TextStream
{
public:
    // Opens for reading only, never creates, and never blocks: only a regular
    // file is taken, a folder, pipe, device or socket is refused. Throws
    // KvError when it cannot.
    static std::unique_ptr<TextStream> open(const QString& path);
    ~TextStream();

    bool AtEndOfStream();
    // The next stretch of the current line, at most maxBytes long, so that a
    // line of any length can be read in bounded memory. lineEnded tells
    // whether the line is complete: its terminator, or the end of the file,
    // came right after the piece. Throws KvError when nothing is left or the
    // file cannot be read.
    QByteArray ReadPiece(qsizetype maxBytes, bool& lineEnded);
    void Close();

    // How far reading has come, in bytes, and the file's size when it was opened.
    qint64 position() const;
    qint64 size() const { return m_size; }

private:
    TextStream(std::unique_ptr<QFile> file, const QString& path);
    bool fill();
    // Throws when the file is no longer the one that was opened, as it was.
    void requireUnchanged();
    // Takes the terminator at the read position if there is one; true when
    // the line ends there, also at the end of the file.
    bool takeLineEnd();

    std::unique_ptr<QFile> m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    qint64 m_size = 0;
    QString m_path;
    QDateTime m_modified;
    std::optional<KvError> m_changed;
};
