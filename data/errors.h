#pragma once

#include <QString>

namespace velario {

// The system's error numbers. Each has one fixed standard text (standardErrorText), which
// ERROR_REPORT shows; the description that travels with an error may say more.
namespace ErrorNumber {
enum : int {
    None = 0,
    ObjectNotSet = 91,         // a handle used before it was opened
    FileNotFound = 53,         // database file missing
    PathNotFound = 76,         // a folder in the path is missing or the path is not a file
    PermissionDenied = 70,     // file cannot be read or written
    InvalidArgument = 5,       // call refused before reaching the engine (empty name ...)
    Overflow = 6,              // a 16-bit value left its range
    SubscriptOutOfRange = 9,   // a table index outside its bounds
    NoCurrentRecord = 3021,    // record set at end of file
    UpdateWithoutEdit = 3020,  // Update without Edit or AddNew
    DatabaseReadOnly = 3027,   // write on a read-only database or record set
    CouldNotLock = 3260,       // locked by another user or process
    SyntaxError = 3075,        // statement the engine cannot parse
    TableNotFound = 3078,      // statement names a missing table
    ItemNotFound = 3265,       // column name not in the record set
    UnrecognizedFormat = 3343, // file is not a database of a kind we read
    InvalidPassword = 3031,    // file encrypted with a password
    EngineError = 3000,        // engine failure with its own description
    TooFewParameters = 3061,   // statement names a column that does not exist
    OdbcCallFailed = 3146,     // ODBC driver failure with the driver's own description
    OdbcConnectFailed = 3151,  // ODBC data source could not be reached
    InvalidRow = 6148,         // grid row position refused
    InvalidColumn = 6149,      // grid column index refused
    PrinterError = 482,        // printer could not take the document
    FileOpenFailed = 3044,     // path is not valid
    OperationCancelled = 3059, // the user stopped a long operation
};
} // namespace ErrorNumber

QString standardErrorText(int number);

// An error as it travels from the engine or a control to the caller that shows it.
struct Error {
    int number = 0;
    QString description;

    bool isSet() const { return number != 0; }
    explicit operator bool() const { return isSet(); }

    static Error make(int number, QString description = {});
};

} // namespace velario
