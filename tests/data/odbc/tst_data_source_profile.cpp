#include "data/odbc/data_source_profile.h"

#include <QTest>

using namespace velario::data::odbc;

using IniAttributes = std::vector<std::pair<QByteArray, QString>>;
Q_DECLARE_METATYPE(IniAttributes)

class TestDataSourceProfile : public QObject {
    Q_OBJECT

private slots:
    // Which MariaDB data sources the program streams itself, and where it then connects: a
    // data source that keeps the driver's cache, or says what the program would not do as
    // the driver does, is left to the driver.
    void mariadbStream_data() {
        QTest::addColumn<IniAttributes>("attributes");
        QTest::addColumn<QString>("settings"); // empty: read through the driver
        // KEY=VALUE;... after the attributes every data source here has.
        const auto row = [](const char* tag, const QString& extra, const QString& settings) {
            IniAttributes attributes;
            for (const QString& item :
                 ("Driver=MariaDB Unicode;Description=prova;SERVER=db.example;Port=3307;User="
                  "velario;Password=segreto;Database=vendite;" +
                  extra)
                     .split(u';', Qt::SkipEmptyParts))
                attributes.emplace_back(item.section(u'=', 0, 0).toUtf8(), item.section(u'=', 1));
            QTest::newRow(tag) << attributes << settings;
        };
        const QString at = "db.example:3307 velario/segreto vendite socket= tcp=0 0/0/0 init=";
        row("no options", "", at);
        row("no cache, forward-only", "OPTIONS=3145728", at);
        row("no cache alone, as OPTION", "option=1048576", at);
        row("no cache and harmless flags", "OPTIONS=3145746", at);
        row("forward-only with the cache", "OPTIONS=2097152", {});
        row("found rows only", "OPTIONS=2", {});
        row("several statements", "OPTIONS=68157440", {});
        row("options not a number", "OPTIONS=tre", {});
        row("NO_CACHE=1", "NO_CACHE=1", at);
        row("STREAMRS=0", "STREAMRS=0", {});
        row("STREAMRS=1 beside the cache", "OPTIONS=2;STREAMRS=1", at);
        row("TLS", "SSLCA=/etc/ssl/ca.pem", {});
        row("port not a number", "PORT=tremila", {});
        row("the rest of what is read",
            "SOCKET=/run/mysqld/mysqld.sock;TCPIP=1;CONN_TIMEOUT=5;READ_TIMEOUT=6;WRITE_TIMEOUT=7;"
            "INITSTMT=SET @a = 1;CHARSET=latin1;NO_PROMPT=1;FORWARDONLY=1;DB=altro;UID=io;PWD=x;"
            "SERVERNAME=altrove",
            "altrove:3307 io/x altro socket=/run/mysqld/mysqld.sock tcp=1 5/6/7 init=SET @a = 1");
    }
    void mariadbStream() {
        QFETCH(IniAttributes, attributes);
        QFETCH(QString, settings);
        const std::optional<MariadbSettings> s = mariadbStreamSettings(attributes);
        const QString got = s ? QStringLiteral("%1:%2 %3/%4 %5 socket=%6 tcp=%7 %8/%9/%10 init=%11")
                                    .arg(QString(s->host))
                                    .arg(s->port)
                                    .arg(QString(s->user), QString(s->password),
                                         QString(s->database), QString(s->socket))
                                    .arg(int(s->tcp))
                                    .arg(s->connectTimeout)
                                    .arg(s->readTimeout)
                                    .arg(s->writeTimeout)
                                    .arg(QString(s->initCommand))
                              : QString();
        QCOMPARE(got, settings);
    }
};

QTEST_GUILESS_MAIN(TestDataSourceProfile)
#include "tst_data_source_profile.moc"
