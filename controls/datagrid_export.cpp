#include "datagrid.h"

#include "data/results/csv_writer.h"
#include "data/results/output_file.h"
#include "data/results/spreadsheet_cells.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>

namespace velario {

namespace {

// The folder of the last export, where the next one starts, whichever grid made it.
QString& lastExportFolder() {
    static QString folder;
    return folder;
}

// NAME as a file's name: without the characters that a file name cannot hold here or on the
// systems the file may go to.
QString fileNameOf(const QString& name) {
    QString file = name.trimmed();
    for (QChar& c : file)
        if (c.unicode() < 0x20 || QStringView(u"/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    return file;
}

} // namespace

void DataGrid::setExportName(const QString& name) {
    exportName_ = name;
}

void DataGrid::exportCsv() {
    if (!model_ || !model_->hasSource())
        return;
    const QString title = QStringLiteral("Esporta CSV");
    const QString folder = lastExportFolder().isEmpty() ? QDir::homePath() : lastExportFolder();
    const QString name = fileNameOf(exportName_);
    const QString start = name.isEmpty() ? folder + QLatin1Char('/')
                                         : QDir(folder).filePath(name + QStringLiteral(".csv"));
    const Dialogs::SaveChoice choice = platform().fileSaveCsv(start, data::localeCsvSeparator());
    if (!choice.path || choice.path->isEmpty())
        return;
    const QString path = *choice.path;
    const QString shown = QDir::toNativeSeparators(path);
    if (data::OutputFile::replacesFile(path) &&
        platform().msgBox(QStringLiteral("Il file %1 esiste già.\rSostituirlo ?").arg(shown),
                          MsgBox::YesNo | MsgBox::Question | MsgBox::DefaultButton2,
                          title) != MsgBox::Yes)
        return;
    lastExportFolder() = QFileInfo(path).absolutePath();
    const QByteArray decimal = choice.asStored ? QByteArray() : data::localeDecimalPoint().toUtf8();

    // An ordinary file is written under another name and put in place only once whole: a
    // stopped or failed export leaves the folder, and any file of that name, as they were. A
    // pipe takes the rows as they come; nothing else is ever replaced.
    Error opening;
    const std::unique_ptr<data::OutputFile> file = data::OutputFile::open(path, false, &opening);
    const auto cannotWrite = [&](const QString& why) {
        platform().beep();
        platform().msgBox(QStringLiteral("Impossibile scrivere il file %1: %2").arg(shown, why),
                          MsgBox::OkOnly, title);
    };
    if (!file)
        return cannotWrite(opening.description);
    platform().setMousePointer(MousePointer::Hourglass);
    data::CsvWriter writer(*file, choice.separator, decimal);
    QStringList captions;
    for (int c = 0; c < columnCount(); ++c)
        captions << columnCaption(c);
    writer.writeHeader(captions);
    bool stopped = false;
    const Error error = model_->writeAll(
        writer, [&writer] { return writer.error().isSet(); }, &stopped);
    const Error written = writer.flush();
    const Error kept = error || written ? Error() : file->commit();
    platform().setMousePointer(MousePointer::Default);
    if (!error && !written && !kept)
        return;
    file->discard();
    if (written || !error)
        return cannotWrite(written ? written.description : kept.description);
    if (stopped) {
        platform().msgBox(QStringLiteral("Esportazione annullata: il file non è stato scritto."),
                          MsgBox::OkOnly, title);
        return;
    }
    platform().beep();
    platform().msgBox(QStringLiteral("Errore SQL: ") + error.description, MsgBox::OkOnly);
}

} // namespace velario
