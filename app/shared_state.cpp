#include "shared_state.h"

#include "open_catalogue.h"
#include "platform/platform.h"

namespace velario {

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

void SharedState::ERROR_REPORT(const Error& error, const QString& statement) {
    if (error.number == 0)
        return;
    platform().msgBox(QStringLiteral("Errore ") + errorNumberText(error.number) +
                          QStringLiteral(" - ") + standardErrorText(error.number) +
                          QStringLiteral("\r\r") + statement,
                      MsgBox::OkOnly);
}

void SharedState::OPEN_CATALOGUE() {
    // A catalogue that cannot be used fails to open as a missing one does: the window opens
    // and every catalogue operation says the catalogue is not there.
    Error error;
    DB = openCatalogue(PATH_DB, false, &error);
    if (!DB) {
        platform().beep();
        const int answer = platform().msgBox(catalogueOpeningMessage(error, PATH_DB),
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
