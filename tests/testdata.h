#pragma once

// Data the tests send and the files they read, shared so that every test
// speaks of the same things.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace TestData {

// Every byte value, CR LF and NUL included, in an order that does not repeat
// within the pattern, so that a lost or doubled piece shows.
inline QByteArray pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = 0x12345678;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = char(x >> 24);
    }
    return data;
}

// Files in a folder of their own, removed with it.
class TempFiles
{
public:
    QString write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("file%1.txt").arg(++m_count));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace TestData
