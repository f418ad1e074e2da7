#include "platform/RegularFile.h"

#include <QFile>

#include <system_error>

namespace fs = std::filesystem;

std::unique_ptr<QFile> openRegularFile(const QString& path)
{
    // Opening a named pipe waits for a writer, and the window with it: the
    // kind of file is asked first. A file swapped for a pipe in between would
    // still hold up the open; the Linux version asks the open file instead.
    std::error_code failure;
    const fs::file_type type = fs::status(fs::path(path.toStdU16String()), failure).type();
    if (type == fs::file_type::not_found)
        throw KvError(KvErr::FileNotFound, QStringLiteral("File not found"));
    // Without an answer (a folder that may not be looked into) the open says why.
    if (type != fs::file_type::regular && type != fs::file_type::none && type != fs::file_type::unknown)
        throw notRegularFile(type);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + file->errorString());
    return file;
}
