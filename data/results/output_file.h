#pragma once

#include "data/errors.h"

#include <QIODevice>
#include <QString>

#include <memory>

namespace velario::data {

// Where an export goes. What already exists at the path and is not an ordinary file is
// never replaced:
// - an ordinary file, or nothing, is written under a hidden temporary name in the same
//   folder and takes the path's name only at commit(), so that a failed or abandoned output
//   leaves the folder as it was; through a symbolic link, the link's target is the file;
// - a named pipe, or the program's own standard output or error (/dev/stdout, /dev/fd/N),
//   takes the output as a stream, as it is written;
// - a folder, a device or a socket is refused.
// Every error is described in Italian, as the user reads it.
class OutputFile final : public QIODevice {
public:
    // Whether writing to PATH would replace an ordinary file that exists.
    static bool replacesFile(const QString& path);

    // Opens PATH for writing; null, and why in ERROR, when it cannot or must not. A pipe
    // that nobody reads yet is waited for when WAITFORREADER, else refused.
    static std::unique_ptr<OutputFile> open(const QString& path, bool waitForReader, Error* error);
    // The program's standard output, as a stream.
    static std::unique_ptr<OutputFile> standardOutput(Error* error);

    ~OutputFile() override;

    // Puts the file in place under its name; for a stream, ends it. What went wrong, if
    // anything: then no file took the name.
    Error commit();
    // Gives up the output: a file written so far goes.
    void discard();

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    OutputFile(int fd, QString target, QString temporary);

    int fd_;
    QString target_;    // the file's name once committed; empty for a stream
    QString temporary_; // the name it is written under until then
};

} // namespace velario::data
