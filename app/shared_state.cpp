#include "shared_state.h"

#include "data/catalogue/catalogue_store.h"
#include "data/sqlite/database.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace velario {

namespace {

// The error number as the messages write it: a leading blank for a non-negative number.
QString errorNumberText(int number) {
    return number >= 0 ? QStringLiteral(" %1").arg(number) : QString::number(number);
}

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::LongLong:
        return true;
    default:
        return false;
    }
}

// PATH as a shell takes it.
QString shellWord(const QString& path) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:=@%-]+$"));
    if (plain.match(path).hasMatch())
        return path;
    return QLatin1Char('\'') + QString(path).replace(u'\'', QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

// The command that makes a catalogue of the Access catalogue at PATH, beside it.
QString accessCatalogueHint(const QString& path) {
    const QFileInfo info(path);
    QString target = info.dir().filePath(info.completeBaseName() + QStringLiteral(".db"));
    if (target == info.filePath())
        target = info.dir().filePath(info.completeBaseName() + QStringLiteral("-nuovo.db"));
    return QStringLiteral(" È un file Access: un catalogo Access si converte con il comando  "
                          "velario-newcat --from %1 %2  indicando poi il nuovo file in DIR_DBF.")
        .arg(shellWord(path), shellWord(target));
}

} // namespace

void SharedState::ERROR_REPORT(const Error& error, const QString& statement) {
    if (error.number == 0)
        return;
    platform().msgBox(QStringLiteral("Errore ") + errorNumberText(error.number) +
                          QStringLiteral(" - ") + standardErrorText(error.number) +
                          QStringLiteral("\r\r") + statement,
                      MsgBox::OkOnly);
}

void SharedState::OPEN_CATALOGUE() {
    Error error;
    // The catalogue is written to, and an Access file is only ever read (through a copy): one
    // is refused with the command that converts it, before a save could fail on it.
    if (data::Database::isAccessFile(PATH_DB))
        error = Error::make(ErrorNumber::UnrecognizedFormat,
                            standardErrorText(ErrorNumber::UnrecognizedFormat) +
                                accessCatalogueHint(PATH_DB));
    else
        DB = data::Database::open(PATH_DB, false, &error);
    // A file without the catalogue, or damaged, fails to open as a missing one does: the
    // window opens and every catalogue operation says the catalogue is not there.
    if (DB)
        error = data::checkCatalogue(*DB);
    if (error)
        DB.reset();
    if (!DB) {
        platform().beep();
        const int answer = platform().msgBox(
            QStringLiteral("ERRORE IN APERTURA DATABASE !!!\r\r") + errorNumberText(error.number) +
                QStringLiteral(" - ") + error.description + QStringLiteral("\r\r") + PATH_DB,
            MsgBox::OkOnly | MsgBox::Critical);
        RISP = QString::number(answer);
    }
}

void SharedState::WIN_REMOVE() {
    bool found = false;
    const int count = N_WIN_OPEN;
    for (int i = 1; i <= count; ++i) {
        const QVariant& slot = WIN_OPEN[i];
        // Only a number equals the id: an empty slot or a text never does.
        if (!found && isNumber(slot) && slot.toLongLong() == WIN_ID)
            found = true;
        if (found)
            WIN_OPEN[i] = i < kWinSlots ? WIN_OPEN[i + 1] : QVariant();
    }
    if (!found)
        return;
    WIN_OPEN[N_WIN_OPEN] = QString();
    --N_WIN_OPEN;
}

} // namespace velario
