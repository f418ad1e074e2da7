#pragma once

#include "platform/FileIdentity.h"
#include "platform/KvError.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

// Reads a file one line at a time for sending. A line ends at CR LF, LF or a
// lone CR and comes back without its terminator; every byte is one character
// (Latin-1), so a line goes to the peer exactly as it stands in the file.
// Reading runs ahead of the sending; whoever uses what was read asks first
// whether the file is still as it was opened.
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

    // Before anything of the file was used: when the file at the path is no
    // longer as it was opened, reads it afresh from its start and returns
    // true. A file that is only deleted is read as it was opened. Throws
    // KvError when the file at the path cannot be opened.
    bool reopenIfChanged();
    // Throws KvError when the file was cut short, changed, or replaced by
    // another at its path since it was opened; its text holds where, which
    // says how far the sending came.
    void requireUnchanged(const QString& where);

    // How far reading has come, in bytes, and the file's size when it was opened.
    qint64 position() const;
    qint64 size() const { return m_size; }

private:
    TextStream(std::unique_ptr<QFile> file, const QString& path);
    bool fill();
    // Takes the terminator at the read position if there is one; true when
    // the line ends there, also at the end of the file.
    bool takeLineEnd();

    std::unique_ptr<QFile> m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    qint64 m_size = 0;
    QString m_path;
    FileIdentity m_opened;
};
