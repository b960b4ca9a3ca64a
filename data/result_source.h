#pragma once

#include "data/errors.h"

#include <QByteArrayView>
#include <QString>

#include <span>

namespace velario::data {

// Receives the cells of the rows a result source reads, as UTF-8 text, row by row.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void beginRow() = 0;
    virtual void cell(const char* utf8, qsizetype length) = 0;
    virtual void nullCell() = 0;
    virtual void endRow() = 0;
    // A whole row at once, a Null as a view without data; PRINTABLE when every cell is known
    // to be printable ASCII (0x20 to 0x7E). Handed on cell by cell unless a sink can do better.
    virtual void row(std::span<const QByteArrayView> cells, bool printable);
};

inline void RowSink::row(std::span<const QByteArrayView> cells, bool) {
    beginRow();
    for (const QByteArrayView bytes : cells)
        bytes.data() ? cell(bytes.data(), bytes.size()) : nullCell();
    endRow();
}

// A query result read forward, a block of rows at a time, by whatever engine runs it
// (SQLite, an Access copy, an ODBC driver). Values arrive as display text: numbers in the
// engine's own text form, binary values as hexadecimal digits, Null as a null cell.
class ResultSource {
public:
    virtual ~ResultSource() = default;

    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;

    // Reads up to MAX further rows into SINK and returns how many it read; 0 at the end of
    // the result or on an error (then error() says which).
    virtual int fetch(int max, RowSink& sink) = 0;
    virtual bool atEnd() const = 0;
    virtual Error error() const = 0;

    // The exact number of rows of the whole result, found without holding them (the
    // statement may run again for it).
    virtual qint64 countRows(Error* error) = 0;

    // Stops the engine call under way (fetch or count, running on another thread), and fails
    // every later one with OperationCancelled until resume(). Thread-safe.
    virtual void interrupt() {}
    // Once the interrupted work has ended, on the owner's thread: reading goes on where it
    // stopped, or ends with OperationCancelled where the engine cannot go on.
    virtual void resume() {}
};

} // namespace velario::data
