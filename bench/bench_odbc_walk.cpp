// Walks a 1,000,000-row x 5-column result through OdbcConnection / ResultSource, via the
// SQLite ODBC driver, psqlODBC and MariaDB Connector/ODBC, and compares with isql on the same
// data sources. Each walk runs in a child process so that its peak RSS is its own.
//
//   velario-bench-odbc-walk [--rows N] [--repeat N] [--pg-port-file FILE]
//                           [--mariadb-port-file FILE]
//
// Without a port file only SQLite is measured; tests/fixtures/pg-start.sh and
// mariadb-start.sh start the servers.

#include "data/odbc/odbc.h"
#include "process_status.h"
#include "support/odbc_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern char** environ;

using namespace velario;
using namespace velario::data;

namespace {

class CountingSink : public RowSink {
public:
    qint64 rows = 0;
    qint64 cells = 0;
    qint64 bytes = 0;
    void beginRow() override {}
    void cell(const char* utf8, qsizetype length) override {
        ++cells;
        bytes += length;
        Q_UNUSED(utf8);
    }
    void nullCell() override { ++cells; }
    void endRow() override { ++rows; }
};

struct Measure {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
    QString output;
};

// Runs ARGS with stdin from INPUT (or /dev/null) and returns its wall time, peak RSS and
// first line of output.
Measure runChild(const QStringList& args, const QString& input, bool keepOutput) {
    Measure measure;
    QTemporaryDir dir;
    const QByteArray outPath = (dir.path() + QStringLiteral("/out")).toLocal8Bit();
    const QByteArray inPath = input.isEmpty() ? QByteArray("/dev/null") : input.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, keepOutput ? outPath.constData() : "/dev/null",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<QByteArray> storage;
    for (const QString& arg : args)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return measure;
    }
    // ru_maxrss would not do: Linux carries the parent's high-water mark across exec. VmHWM
    // belongs to the process image alone; it is read until the child exits.
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0)
            break;
        measure.peakKb = std::max(measure.peakKb, long(bench::statusKb("VmHWM:", pid)));
        usleep(2000);
    }
    measure.seconds = double(timer.nsecsElapsed()) / 1e9;
    measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    if (keepOutput) {
        QFile out(QString::fromLocal8Bit(outPath));
        if (out.open(QIODevice::ReadOnly))
            measure.output = QString::fromUtf8(out.readLine()).trimmed();
    }
    return measure;
}

long ownPeakKb() {
    return long(std::max<qint64>(0, bench::statusKb("VmHWM:")));
}

int walk(const QString& dataSource, const QString& transfer, const QString& sql, bool count) {
    Error error;
    auto connection = OdbcConnection::connect(dataSource, &error);
    if (!connection) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description));
        return 1;
    }
    if (transfer == QLatin1String("narrow"))
        connection->setTextTransfer(OdbcTextTransfer::Narrow);
    else if (transfer == QLatin1String("wide"))
        connection->setTextTransfer(OdbcTextTransfer::Wide);
    auto source = connection->execute(sql, &error);
    if (!source) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description));
        return 1;
    }
    if (count) {
        const qint64 rows = source->countRows(&error);
        std::printf("%lld rows, own peak %.1f MB\n", static_cast<long long>(rows),
                    double(ownPeakKb()) / 1024.0);
        return error ? 1 : 0;
    }
    CountingSink sink;
    while (source->fetch(1000, sink) > 0) {
    }
    if (source->error()) {
        std::fprintf(stderr, "%s\n", qPrintable(source->error().description));
        return 1;
    }
    std::printf("%lld rows %lld cells %lld bytes, own peak %.1f MB\n",
                static_cast<long long>(sink.rows), static_cast<long long>(sink.cells),
                static_cast<long long>(sink.bytes), double(ownPeakKb()) / 1024.0);
    return 0;
}

// The program's connections refuse to write: the tables are filled through one of the
// bench's own.
bool fill(const QString& dataSource, const QStringList& statements) {
    const QString failure = test::odbcRun(dataSource, statements);
    if (failure.isEmpty())
        return true;
    std::fprintf(stderr, "cannot fill %s: %s\n", qPrintable(dataSource), qPrintable(failure));
    return false;
}

int portIn(const QString& portFile) {
    QFile file(portFile);
    const int port = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    if (port <= 0)
        std::fprintf(stderr, "no port in %s\n", qPrintable(portFile));
    return port;
}

const QString kSelect = QStringLiteral("SELECT id, name, amount, qty, note FROM big");

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();

    // Child modes.
    const int walkAt = int(args.indexOf(QStringLiteral("--walk")));
    if (walkAt > 0 && walkAt + 3 < args.size())
        return walk(args[walkAt + 1], args[walkAt + 2], args[walkAt + 3], false);
    const int countAt = int(args.indexOf(QStringLiteral("--count")));
    if (countAt > 0 && countAt + 1 < args.size())
        return walk(args[countAt + 1], QString(), kSelect, true);

    int rows = 1000000;
    int repeat = 3;
    int port = 0;
    int mariadbPort = 0;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows"))
            rows = args[++i].toInt();
        else if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--pg-port-file") && (port = portIn(args[++i])) <= 0)
            return 1;
        else if (args[i] == QLatin1String("--mariadb-port-file") &&
                 (mariadbPort = portIn(args[++i])) <= 0)
            return 1;
    }

    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("bench.db"));
    QFile(database).open(QIODevice::WriteOnly);
    QList<test::OdbcDataSource> sources{
        test::sqliteDataSource(QStringLiteral("bench-sqlite"), database),
        test::sqliteDataSource(QStringLiteral("bench-sqlite-step"), database,
                               {{QStringLiteral("StepAPI"), QStringLiteral("1")}}),
    };
    if (port > 0)
        sources << test::postgresDataSource(QStringLiteral("bench-pg"), port);
    if (mariadbPort > 0)
        sources << test::mariadbDataSource(QStringLiteral("bench-mariadb"), mariadbPort);
    test::OdbcEnvironment environment(sources);
    if (!environment.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(environment.errorString()));
        return 1;
    }

    const QString columns = QStringLiteral(
        "x, 'nome ' || x, x * 1.25, x % 1000, 'nota numero ' || (x * 7) || ' è così'");
    if (!fill(QStringLiteral("bench-sqlite"),
              {QStringLiteral("CREATE TABLE big (id INTEGER PRIMARY KEY, name TEXT, amount REAL, "
                              "qty INTEGER, note TEXT)"),
               QStringLiteral("INSERT INTO big WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT "
                              "x + 1 FROM s WHERE x < %1) SELECT %2 FROM s")
                   .arg(rows)
                   .arg(columns)}))
        return 1;
    if (port > 0 &&
        !fill(QStringLiteral("bench-pg"),
              {QStringLiteral("DROP TABLE IF EXISTS big"),
               QStringLiteral("CREATE TABLE big (id INTEGER PRIMARY KEY, name TEXT, amount DOUBLE "
                              "PRECISION, qty INTEGER, note TEXT)"),
               QStringLiteral("INSERT INTO big SELECT %1 FROM generate_series(1, %2) AS s(x)")
                   .arg(columns)
                   .arg(rows),
               QStringLiteral("VACUUM ANALYZE big")}))
        return 1;
    if (mariadbPort > 0 &&
        !fill(QStringLiteral("bench-mariadb"),
              {QStringLiteral("DROP TABLE IF EXISTS big"),
               QStringLiteral("CREATE TABLE big (id INTEGER PRIMARY KEY, name TEXT, amount DOUBLE, "
                              "qty INTEGER, note TEXT)"),
               QStringLiteral("INSERT INTO big SELECT seq, CONCAT('nome ', seq), seq * 1.25, "
                              "seq % 1000, CONCAT('nota numero ', seq * 7, ' è così') FROM "
                              "seq_1_to_%1")
                   .arg(rows),
               QStringLiteral("ANALYZE TABLE big")}))
        return 1;

    QFile script(dir.filePath(QStringLiteral("select.sql")));
    script.open(QIODevice::WriteOnly);
    script.write(kSelect.toUtf8() + '\n');
    script.close();

    struct Case {
        QString label;
        QStringList command;
        QString input;
    };
    const QString self = QCoreApplication::applicationFilePath();
    QList<Case> cases;
    QStringList dataSources{QStringLiteral("bench-sqlite"), QStringLiteral("bench-sqlite-step")};
    if (port > 0)
        dataSources << QStringLiteral("bench-pg");
    if (mariadbPort > 0)
        dataSources << QStringLiteral("bench-mariadb");
    for (const QString& dsn : dataSources) {
        cases.append({dsn + QStringLiteral(" connect only"),
                      {self, QStringLiteral("--walk"), dsn, QStringLiteral("default"),
                       kSelect + QStringLiteral(" WHERE id < 0")},
                      {}});
        for (const QString& transfer : {QStringLiteral("narrow"), QStringLiteral("wide")})
            cases.append({dsn + QStringLiteral(" walk ") + transfer,
                          {self, QStringLiteral("--walk"), dsn, transfer, kSelect},
                          {}});
        cases.append(
            {dsn + QStringLiteral(" countRows"), {self, QStringLiteral("--count"), dsn}, {}});
        cases.append({dsn + QStringLiteral(" isql -b -d,"),
                      {QStringLiteral("isql"), QStringLiteral("-b"), QStringLiteral("-d,"), dsn},
                      script.fileName()});
    }

    QTextStream out(stdout);
    out << QStringLiteral("%1 rows x 5 columns, best of %2 runs\n").arg(rows).arg(repeat);
    out << QStringLiteral("%1 %2 %3  %4\n")
               .arg(QStringLiteral("case"), -34)
               .arg(QStringLiteral("wall s"), 8)
               .arg(QStringLiteral("peak RSS MB"), 12)
               .arg(QStringLiteral("result"));
    out.flush();
    for (const Case& c : cases) {
        Measure best;
        for (int i = 0; i < repeat; ++i) {
            const bool isql = c.command.first() == QLatin1String("isql");
            Measure m = runChild(c.command, c.input, !isql);
            if (m.status != 0) {
                best = m;
                break;
            }
            if (i == 0 || m.seconds < best.seconds)
                best = m;
        }
        out << QStringLiteral("%1 %2 %3  %4\n")
                   .arg(c.label, -34)
                   .arg(best.seconds, 8, 'f', 2)
                   .arg(double(best.peakKb) / 1024.0, 12, 'f', 1)
                   .arg(best.status == 0 ? best.output
                                         : QStringLiteral("FAILED (%1)").arg(best.status));
        out.flush();
    }
    return 0;
}
