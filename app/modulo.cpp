#include "modulo.h"

#include "data/catalogue_store.h"
#include "platform/platform.h"

namespace velario::Modulo {

QVariant NULL_TO_EMPTY(const QVariant& value) {
    if (value.isNull())
        return QString();
    return value;
}

QString errorNumberText(int number) {
    return number >= 0 ? QStringLiteral(" %1").arg(number) : QString::number(number);
}

void ERROR_REPORT() {
    if (ERR.number == 0)
        return;
    platform().msgBox(QStringLiteral("Errore ") + errorNumberText(ERR.number) +
                          QStringLiteral(" - ") + standardErrorText(ERR.number) +
                          QStringLiteral("\r\r") + MSG,
                      MsgBox::OkOnly);
    ERR = Error();
}

void OPEN_CATALOGUE() {
    Error error;
    DB = data::Database::open(PATH_DB, false, false, QString(), &error);
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
        return;
    }
    MSG = QStringLiteral("OpenDatabase ") + PATH_DB;
    ERROR_REPORT();
}

namespace {

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

} // namespace

void WIN_REMOVE() {
    bool found = false;
    const int count = N_WIN_OPEN;
    for (CNT_I = 1; CNT_I <= count; ++CNT_I) {
        const QVariant& slot = WIN_OPEN[CNT_I];
        // Only a number equals the id: an empty slot or a text never does.
        if (!found && isNumber(slot) && slot.toLongLong() == WIN_ID)
            found = true;
        if (found)
            WIN_OPEN[CNT_I] = CNT_I < kWinSlots ? WIN_OPEN[CNT_I + 1] : QVariant();
    }
    if (!found)
        return;
    WIN_OPEN[N_WIN_OPEN] = QString();
    --N_WIN_OPEN;
}

void reset() {
    MSG.clear();
    COD_SQL.clear();
    CFG_LINE.clear();
    RELEASE.clear();
    UP_DATE.clear();
    DIR_PRG.clear();
    DIR_DBF.clear();
    DIR_BTR.clear();
    ANNO_DF.clear();
    PATH_DB.clear();
    RISP.clear();
    RS.reset();
    DB.reset();
    CNT_I = CNT_J = CNT_K = 0;
    WIN_OPEN.fill(QVariant());
    N_WIN_OPEN = 0;
    WIN_ID = 0;
    ERR = Error();
}

} // namespace velario::Modulo
