#include "data/errors.h"

#include <utility>

namespace velario {

QString standardErrorText(int number) {
    switch (number) {
    case ErrorNumber::None:
        return {};
    case ErrorNumber::InvalidArgument:
        return QStringLiteral("Chiamata di routine o argomento non validi");
    case ErrorNumber::Overflow:
        return QStringLiteral("Overflow");
    case ErrorNumber::SubscriptOutOfRange:
        return QStringLiteral("Indice non compreso nell'intervallo");
    case ErrorNumber::FileNotFound:
        return QStringLiteral("Impossibile trovare il file");
    case ErrorNumber::PermissionDenied:
        return QStringLiteral("Permesso negato");
    case ErrorNumber::PathNotFound:
        return QStringLiteral("Impossibile trovare il percorso");
    case ErrorNumber::ObjectNotSet:
        return QStringLiteral("Variabile oggetto o variabile del blocco With non impostata");
    case ErrorNumber::PrinterError:
        return QStringLiteral("Errore della stampante");
    case ErrorNumber::EngineError:
        return QStringLiteral("Errore del motore di database.");
    case ErrorNumber::UpdateWithoutEdit:
        return QStringLiteral("Update o CancelUpdate senza AddNew o Edit.");
    case ErrorNumber::NoCurrentRecord:
        return QStringLiteral("Nessun record corrente.");
    case ErrorNumber::DatabaseReadOnly:
        return QStringLiteral("Impossibile aggiornare. Il database o l'oggetto è di sola lettura.");
    case ErrorNumber::FileOpenFailed:
        return QStringLiteral("Percorso non valido.");
    case ErrorNumber::TooFewParameters:
        return QStringLiteral("Parametri insufficienti.");
    case ErrorNumber::SyntaxError:
        return QStringLiteral("Errore di sintassi nell'espressione della query.");
    case ErrorNumber::TableNotFound:
        return QStringLiteral("Il motore di database non trova la tabella o la query di input.");
    case ErrorNumber::OdbcCallFailed:
        return QStringLiteral("Chiamata ODBC non riuscita.");
    case ErrorNumber::OdbcConnectFailed:
        return QStringLiteral("Connessione ODBC non riuscita.");
    case ErrorNumber::CouldNotLock:
        return QStringLiteral("Impossibile aggiornare. Attualmente bloccato da un altro utente.");
    case ErrorNumber::ItemNotFound:
        return QStringLiteral("Elemento non trovato nell'insieme.");
    case ErrorNumber::UnrecognizedFormat:
        return QStringLiteral("Formato di database non riconosciuto.");
    case ErrorNumber::InvalidPassword:
        return QStringLiteral("Password non valida.");
    case ErrorNumber::OperationCancelled:
        return QStringLiteral("Operazione annullata dall'utente.");
    case ErrorNumber::InvalidRow:
        return QStringLiteral("Numero di riga non valido");
    case ErrorNumber::InvalidColumn:
        return QStringLiteral("Numero di colonna non valido");
    default:
        return QStringLiteral("Errore definito dall'applicazione o dall'oggetto");
    }
}

Error Error::make(int number, QString description) {
    Error e;
    e.number = number;
    e.description = description.isEmpty() ? standardErrorText(number) : std::move(description);
    return e;
}

} // namespace velario
