#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

// Reads a file one line at a time for sending. A line ends at CR LF, LF or a
// lone CR and comes back without its terminator; every byte is one character
// (Latin-1), so a line goes to the peer exactly as it stands in the file.
class TextStream
{
public:
    // Opens for reading only, never creates. Throws KvError when it cannot.
    static std::unique_ptr<TextStream> open(const QString& path);
    ~TextStream();

    bool AtEndOfStream();
    // Throws KvError when nothing is left or the file cannot be read.
    QString ReadLine();
    void Close();

private:
    explicit TextStream(std::unique_ptr<QFile> file);
    bool fill();

    std::unique_ptr<QFile> m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
};
