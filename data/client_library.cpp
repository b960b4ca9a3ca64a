#include "data/client_library.h"

namespace velario::data {

ClientLibrary::ClientLibrary(const char* file, int version, QString purpose)
    : library_(QString::fromLatin1(file), version), shown_(QStringLiteral("lib") + file),
      purpose_(std::move(purpose)) {
    library_.load();
}

Error ClientLibrary::failure() const {
    if (library_.isLoaded() && missing_.isEmpty())
        return {};
    const QString why = library_.isLoaded()
                            ? QStringLiteral("mancano le funzioni %1").arg(missing_.join(", "))
                            : library_.errorString();
    return Error::make(ErrorNumber::OdbcConnectFailed,
                       QStringLiteral("Impossibile caricare la libreria client di %1 (%2): %3")
                           .arg(purpose_, shown_, why));
}

} // namespace velario::data
