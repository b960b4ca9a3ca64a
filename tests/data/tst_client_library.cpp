#include "data/client_library.h"

#include <QtTest>

using namespace velario;

class TestClientLibrary : public QObject {
    Q_OBJECT

private slots:
    // The calls found, or which library and which calls are missing.
    void failureSaysWhich() {
        const QString told = "Impossibile caricare la libreria client di Prova (lib";
        for (const auto& [file, version, symbol, said] :
             {std::tuple{"pq", 5, "PQclear", QString()},
              {"pq", 5, "PQnoSuchCall", told + "pq): mancano le funzioni PQnoSuchCall"},
              {"velario_absent", 1, "PQclear", told + "velario_absent): "}}) {
            data::ClientLibrary library(file, version, "Prova");
            void (*call)() = nullptr;
            library.resolve(call, symbol);
            const Error failure = library.failure();
            QCOMPARE(call != nullptr, said.isEmpty());
            QCOMPARE(failure.number, said.isEmpty() ? 0 : int(ErrorNumber::OdbcConnectFailed));
            QVERIFY2(failure.description.startsWith(said) && bool(failure) != said.isEmpty(),
                     qPrintable(failure.description));
        }
    }
};

QTEST_GUILESS_MAIN(TestClientLibrary)
#include "tst_client_library.moc"
