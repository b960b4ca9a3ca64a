#include "data/odbc/data_source_profile.h"

#include <QTest>

using namespace velario::data::odbc;

class TestDataSourceProfile : public QObject {
    Q_OBJECT

private slots:
    // Which MariaDB data sources the program streams itself, and where it then connects: a
    // data source that keeps the driver's cache, or says what the program would not do as
    // the driver does, is left to the driver.
    void mariadbStream_data() {
        QTest::addColumn<QString>("extra");    // KEY=VALUE;... after every data source's own
        QTest::addColumn<QString>("settings"); // empty: read through the driver
        const QString at = "db.example:3307 velario/segreto vendite socket= tcp=0 0/0/0 init=";
        QTest::newRow("no options") << "" << at;
        QTest::newRow("no cache, forward-only") << "OPTIONS=3145728" << at;
        QTest::newRow("no cache alone, as OPTION") << "option=1048576" << at;
        QTest::newRow("no cache and harmless flags") << "OPTIONS=3145746" << at;
        QTest::newRow("forward-only with the cache") << "OPTIONS=2097152" << QString();
        QTest::newRow("found rows only") << "OPTIONS=2" << QString();
        QTest::newRow("several statements") << "OPTIONS=68157440" << QString();
        QTest::newRow("options not a number") << "OPTIONS=tre" << QString();
        QTest::newRow("NO_CACHE=1") << "NO_CACHE=1" << at;
        QTest::newRow("STREAMRS=0") << "STREAMRS=0" << QString();
        QTest::newRow("STREAMRS=1 beside the cache") << "OPTIONS=2;STREAMRS=1" << at;
        QTest::newRow("TLS") << "SSLCA=/etc/ssl/ca.pem" << QString();
        QTest::newRow("port not a number") << "PORT=tremila" << QString();
        QTest::newRow("the rest of what is read")
            << "SOCKET=/run/mysqld/mysqld.sock;TCPIP=1;CONN_TIMEOUT=5;READ_TIMEOUT=6;"
               "WRITE_TIMEOUT=7;INITSTMT=SET @a = 1;CHARSET=latin1;NO_PROMPT=1;FORWARDONLY=1;"
               "DB=altro;UID=io;PWD=x;SERVERNAME=altrove"
            << "altrove:3307 io/x altro socket=/run/mysqld/mysqld.sock tcp=1 5/6/7 init=SET @a = 1";
    }
    void mariadbStream() {
        QFETCH(QString, extra);
        QFETCH(QString, settings);
        std::vector<std::pair<QByteArray, QString>> attributes;
        for (const QString& item : ("Driver=MariaDB Unicode;Description=prova;SERVER=db.example;"
                                    "Port=3307;User=velario;Password=segreto;Database=vendite;" +
                                    extra)
                                       .split(u';', Qt::SkipEmptyParts))
            attributes.emplace_back(item.section(u'=', 0, 0).toUtf8(), item.section(u'=', 1));
        const std::optional<MariadbSettings> s = mariadbStreamSettings(attributes);
        QCOMPARE(s ? QString::asprintf("%s:%u %s/%s %s socket=%s tcp=%d %u/%u/%u init=%s",
                                       s->host.data(), s->port, s->user.data(), s->password.data(),
                                       s->database.data(), s->socket.data(), int(s->tcp),
                                       s->connectTimeout, s->readTimeout, s->writeTimeout,
                                       s->initCommand.data())
                   : QString(),
                 settings);
    }
};

QTEST_GUILESS_MAIN(TestDataSourceProfile)
#include "tst_data_source_profile.moc"
