#pragma once

#include "platform/KvError.h"

#include <filesystem>
#include <memory>

class QFile;
class QString;

// Opens a file for reading only, never creating it, and takes it only when it
// is a regular file: a pipe can wait for a writer for ever and a device can
// read without end. Throws KvError when it cannot.
std::unique_ptr<QFile> openRegularFile(const QString& path);

// The failure for a path that names something else than a regular file.
KvError notRegularFile(std::filesystem::file_type type);
