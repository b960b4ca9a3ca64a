#pragma once

#include <QString>

#include <optional>

namespace velario::data {

// What the file system says of the file at a path: which file it is (device and inode) and
// what it holds now (size, modification time). A program that writes a new file under the
// same name changes the first; one that rewrites it in place, the second.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 mtimeNs = 0;
    bool regular = false;

    bool sameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    bool operator==(const FileIdentity&) const = default;
};

// Nullopt when nothing is at PATH.
std::optional<FileIdentity> fileIdentity(const QString& path);

} // namespace velario::data
