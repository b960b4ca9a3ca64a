#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace velario::bench {

// A field of a process's /proc status in kB ("VmRSS:", "VmHWM:"); -1 when it cannot be read.
// PID 0 is this process.
inline qint64 statusKb(const char* field, qint64 pid = 0) {
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status")
                          : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

inline qint64 statusMb(const char* field) {
    const qint64 kb = statusKb(field);
    return kb < 0 ? -1 : kb / 1024;
}

} // namespace velario::bench
