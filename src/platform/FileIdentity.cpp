// A file's identity from what Qt tells. It cannot see a file replaced by
// another born in the same millisecond, nor, where the system keeps no birth
// time, one whose times all match; and where the metadata-change time is not
// kept apart from the modification time, a copy that sets the time back
// goes unseen when its size matches too.

#include "platform/FileIdentity.h"

#include <QDateTime>
#include <QFileDevice>
#include <QFileInfo>

namespace {

qint64 msecs(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

// An open file (answering from its handle, not its path) or a path.
template <typename Source> FileIdentity identityFrom(const Source& source)
{
    FileIdentity id;
    id.inode = quint64(msecs(source.fileTime(QFileDevice::FileBirthTime)));
    id.size = source.size();
    id.modified = msecs(source.fileTime(QFileDevice::FileModificationTime));
    id.statusChanged = msecs(source.fileTime(QFileDevice::FileMetadataChangeTime));
    return id;
}

} // namespace

FileIdentity identityOf(QFileDevice& file)
{
    return identityFrom(file);
}

std::optional<FileIdentity> identityAt(const QString& path)
{
    QFileInfo info(path);
    info.setCaching(false);
    if (!info.exists())
        return std::nullopt;
    return identityFrom(info);
}
