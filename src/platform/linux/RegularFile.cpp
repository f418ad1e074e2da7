// Opening a file to send on Linux: without waiting, and asking the open file
// itself what it is, so that nothing can swap it between the look and the open.

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::file_type typeOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return fs::file_type::directory;
    if (S_ISFIFO(mode))
        return fs::file_type::fifo;
    if (S_ISCHR(mode))
        return fs::file_type::character;
    if (S_ISBLK(mode))
        return fs::file_type::block;
    if (S_ISSOCK(mode))
        return fs::file_type::socket;
    return fs::file_type::unknown;
}

KvError accessError(int error)
{
    return KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + qt_error_string(error));
}

} // namespace

std::unique_ptr<QFile> openRegularFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a named pipe does not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            throw KvError(KvErr::FileNotFound, QStringLiteral("File not found"));
        // A socket cannot be opened at all; say what it is rather than what open() says.
        struct stat info;
        if (error == ENXIO && ::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode))
            throw notRegularFile(typeOf(info.st_mode));
        throw accessError(error);
    }
    struct stat info;
    int error = ::fstat(fd, &info) != 0 ? errno : 0;
    if (error == 0 && !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw notRegularFile(typeOf(info.st_mode));
    }
    // A regular file never makes a read wait; reads go back to the ordinary kind.
    const int flags = error == 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (error == 0 && (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1))
        error = errno;
    if (error != 0) {
        ::close(fd);
        throw accessError(error);
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + file->errorString());
    }
    return file;
}

#endif
