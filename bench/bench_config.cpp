// Reads a configuration file of about 100 MB, nearly all of it lines of no known key, and
// reports the time and the memory it takes.
//
//   bench_config [megabytes]

#include "app/config.h"

#include "process_status.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

using velario::bench::statusMb;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? QByteArray(argv[1]).toInt() : 100;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VELARIO.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("RELEASE=1.0\nCOMMENT=");
        const QByteArray block(1024 * 1024, 'z');
        for (int i = 0; i < megabytes / 2; ++i)
            file.write(block);
        file.write("\n");
        for (int i = 0; i < megabytes / 2; ++i)
            file.write("NOTE___=" + block.left(1000) + "\n" + block.left(1024 * 1024 - 1010) +
                       "\n");
        file.write("DIR_DBF=/dati/catalogo.db\n");
    }
    const qint64 before = statusMb("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    const auto config = velario::readConfiguration(path);
    out << "read " << QFile(path).size() / (1024 * 1024) << " MB in "
        << QString::number(double(timer.nsecsElapsed()) / 1e6, 'f', 1) << " ms; peak memory "
        << before << " MB before, " << statusMb("VmHWM:")
        << " MB after; DIR_DBF=" << (config ? config->dirDbf : QStringLiteral("<unreadable>"))
        << Qt::endl;
    return config && config->dirDbf == QLatin1String("/dati/catalogo.db") ? 0 : 1;
}
