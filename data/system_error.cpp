#include "data/system_error.h"

#include <cerrno>

namespace velario::data {

QString systemErrorText(int errnum) {
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("file o cartella inesistente");
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case EISDIR:
        return QStringLiteral("è una cartella");
    case ENOTDIR:
        return QStringLiteral("una parte del percorso non è una cartella");
    case ENOSPC:
        return QStringLiteral("spazio esaurito sul disco");
    case EDQUOT:
        return QStringLiteral("quota disco superata");
    case EFBIG:
        return QStringLiteral("file troppo grande");
    case EROFS:
        return QStringLiteral("file system in sola lettura");
    case EEXIST:
        return QStringLiteral("il file esiste già");
    case ENAMETOOLONG:
        return QStringLiteral("nome troppo lungo");
    case ELOOP:
        return QStringLiteral("troppi collegamenti simbolici");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("troppi file aperti");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura sul dispositivo");
    case EPIPE:
        return QStringLiteral("chi leggeva ha chiuso la pipe");
    case ENXIO:
        return QStringLiteral("nessun programma sta leggendo dalla pipe");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("file in uso");
    case EINVAL:
        return QStringLiteral("argomento non valido");
    default:
        return QStringLiteral("errore di sistema %1").arg(errnum);
    }
}

} // namespace velario::data
