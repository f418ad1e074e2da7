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

} // namespace

FileIdentity identityOf(QFileDevice& file)
{
    // An open file answers from its handle, not from its path.
    FileIdentity id;
    id.inode = quint64(msecs(file.fileTime(QFileDevice::FileBirthTime)));
    id.size = file.size();
    id.modified = msecs(file.fileTime(QFileDevice::FileModificationTime));
    id.statusChanged = msecs(file.fileTime(QFileDevice::FileMetadataChangeTime));
    return id;
}

std::optional<FileIdentity> identityAt(const QString& path)
{
    QFileInfo info(path);
    info.setCaching(false);
    if (!info.exists())
        return std::nullopt;
    FileIdentity id;
    id.inode = quint64(msecs(info.fileTime(QFileDevice::FileBirthTime)));
    id.size = info.size();
    id.modified = msecs(info.fileTime(QFileDevice::FileModificationTime));
    id.statusChanged = msecs(info.fileTime(QFileDevice::FileMetadataChangeTime));
    return id;
}
