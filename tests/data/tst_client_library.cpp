#include "data/client_library.h"

#include <QtTest>

using namespace velario;

class TestClientLibrary : public QObject {
    Q_OBJECT

private slots:
    void failureSaysWhich_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("told");
        QTest::newRow("every call found") << "pq" << 5 << "PQclear" << QString();
        QTest::newRow("a call missing") << "pq" << 5 << "PQnoSuchCall"
                                        << "Impossibile caricare la libreria client di Prova "
                                           "(libpq): mancano le funzioni PQnoSuchCall";
        QTest::newRow("no such library") << "velario_absent" << 1 << "PQclear"
                                         << "Impossibile caricare la libreria client di Prova "
                                            "(libvelario_absent): ";
    }
    void failureSaysWhich() {
        QFETCH(QString, file);
        QFETCH(int, version);
        QFETCH(QString, symbol);
        QFETCH(QString, told);
        data::ClientLibrary library(file.toLatin1().constData(), version, "Prova");
        void (*call)() = nullptr;
        library.resolve(call, symbol.toLatin1().constData());
        const Error failure = library.failure();
        QCOMPARE(bool(failure), !told.isEmpty());
        QCOMPARE(call != nullptr, told.isEmpty());
        if (failure) {
            QCOMPARE(failure.number, ErrorNumber::OdbcConnectFailed);
            QVERIFY2(failure.description.startsWith(told), qPrintable(failure.description));
        }
    }
};

QTEST_GUILESS_MAIN(TestClientLibrary)
#include "tst_client_library.moc"
