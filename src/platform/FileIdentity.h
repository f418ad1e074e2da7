#pragma once

#include <QtGlobal>

#include <optional>

class QFileDevice;
class QString;

// Which file this is, and the last time anything about it changed: enough to
// tell that a file being read was written to, or that another file now sits
// at its path, whatever times a copy tool set on it.
struct FileIdentity
{
    // Which file: device and inode. The portable version keeps its birth
    // time in inode, or 0 when the system keeps none; then the times tell.
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0;
    // When its contents or its details last changed (ctime): set by the
    // system alone, so no copy tool can set it back.
    qint64 statusChanged = 0;

    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified == other.modified && statusChanged == other.statusChanged;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The open file as it is now. Throws KvError when the system cannot tell.
FileIdentity identityOf(QFileDevice& file);
// The file at the path now, if there is one.
std::optional<FileIdentity> identityAt(const QString& path);
