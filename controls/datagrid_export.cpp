#include "datagrid.h"

#include "data/results/csv_writer.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace velario {

void DataGrid::exportCsv() {
    if (!model_ || !model_->hasSource())
        return;
    const QString title = QStringLiteral("Esporta CSV");
    const QString start = lastExport_.isEmpty()
                              ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                              : lastExport_;
    const Dialogs::SaveChoice choice = platform().fileSaveCsv(start, data::localeCsvSeparator());
    if (!choice.path || choice.path->isEmpty())
        return;
    const QString path = *choice.path;
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo::exists(path) &&
        platform().msgBox(QStringLiteral("Il file %1 esiste già.\rSostituirlo ?").arg(shown),
                          MsgBox::YesNo | MsgBox::Question | MsgBox::DefaultButton2,
                          title) != MsgBox::Yes)
        return;
    lastExport_ = QFileInfo(path).absolutePath();

    // Written under another name and put in place only once whole: a stopped or failed
    // export leaves the folder, and any file of that name, as they were.
    QSaveFile file(path);
    const auto cannotWrite = [&](const QString& why) {
        platform().beep();
        platform().msgBox(QStringLiteral("Impossibile scrivere il file %1: %2").arg(shown, why),
                          MsgBox::OkOnly, title);
    };
    if (!file.open(QIODevice::WriteOnly))
        return cannotWrite(file.errorString());
    platform().setMousePointer(MousePointer::Hourglass);
    data::CsvWriter writer(file, choice.separator);
    QStringList captions;
    for (int c = 0; c < columnCount(); ++c)
        captions << columnCaption(c);
    writer.writeHeader(captions);
    bool stopped = false;
    const Error error = model_->writeAll(
        writer, [&writer] { return writer.error().isSet(); }, &stopped);
    const Error written = writer.flush();
    const bool committed = !error && !written && file.commit();
    platform().setMousePointer(MousePointer::Default);
    if (committed)
        return;
    file.cancelWriting();
    if (written || !error)
        return cannotWrite(written ? written.description : file.errorString());
    if (stopped) {
        platform().msgBox(QStringLiteral("Esportazione annullata: il file non è stato scritto."),
                          MsgBox::OkOnly, title);
        return;
    }
    platform().beep();
    platform().msgBox(QStringLiteral("Errore SQL: ") + error.description, MsgBox::OkOnly);
}

} // namespace velario
