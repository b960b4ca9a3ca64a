#include "platform/platform.h"
#include "platform/program_icon.h"
#include "platform/translations.h"
#include "support/harness.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace velario;

// The real dialogs, closed by Escape, as the user reads them under the Italian locale: the texts
// among their buttons, labels and file types, the input box as wide as its title, and the
// file dialogs' columns wide enough for their captions, a folder's type in Italian.
class TestWidgetDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir settings_;

private slots:
    void initTestCase() {
        // Qt's file dialog keeps its columns' widths in the user's settings: none here.
        QVERIFY(settings_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings_.path()));
        QVERIFY2(QLocale().language() == QLocale::Italian && installQtTranslations(),
                 qPrintable(qtItalianTranslationsFile() + ": missing, or not under it_IT"));
    }

    void italian_data() {
        // a message box's style; -1 input box, -2 open, -3 save, -4 versions
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("delete") << (MsgBox::YesNo | MsgBox::Question) << QStringList{"Sì", "No"};
        QTest::newRow("rows") << int(MsgBox::YesNoCancel) << QStringList{"Sì", "No", "Annulla"};
        QTest::newRow("input box") << -1 << QStringList{"OK", "Annulla"};
        QTest::newRow("Sfoglia") << -2 << QStringList{"Apri",          "Annulla",
                                                      "Cerca in:",     "Nome del file:",
                                                      "File di tipo:", "Tutti i file (*)"};
        QTest::newRow("export") << -3 << QStringList{"Salva", "Annulla", "Nome del file:"};
        QTest::newRow("versions") << -4
                                  << QStringList{"Ripristina", "Annulla",
                                                 "Versioni, dalla più recente:"};
    }

    void italian() {
        QFETCH(int, kind);
        QFETCH(QStringList, texts);
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        int room = 0;
        QStringList columns; // a file dialog's captions, "cut" where the column is too narrow
        QString folderType;
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sotto"));
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            const auto* files = dialog->findChild<QTreeView*>();
            // The file system's model fills in on a thread of its own.
            if (files && files->model()->rowCount(files->rootIndex()) == 0)
                return;
            if (files) {
                const QHeaderView* header = files->header();
                for (int i = 0; i < header->count(); ++i)
                    columns << (header->sectionSize(i) < header->sectionSizeHint(i)
                                    ? "cut"
                                    : files->model()->headerData(i, Qt::Horizontal).toString());
                folderType = files->model()->index(0, 2, files->rootIndex()).data().toString();
            }
            QFont bold = dialog->font();
            bold.setBold(true);
            room = dialog->width() - QFontMetrics(bold).horizontalAdvance(dialog->windowTitle());
            dialog->reject();
        });
        closer.start(20);
        const QString title = QStringLiteral("STAMPA DATI DELLA GRIGLIA SELEZIONATA");
        if (kind >= 0)
            platform().msgBox(QStringLiteral("Confermi ?"), kind, title);
        else if (kind == -1)
            platform().inputBox(QStringLiteral("Righe"), title, QStringLiteral("1"));
        else if (kind == -2)
            platform().fileOpen(dir.path());
        else if (kind == -3)
            platform().fileSaveCsv(dir.path(), ';');
        else
            QCOMPARE(platform().versions(title, {VersionItem{}}), std::nullopt);
        const QJsonObject event = capture.events().value(0);
        QStringList shown;
        for (const char* key : {"buttons", "labels", "filters"})
            for (const QJsonValue text : event[QLatin1String(key)].toArray())
                shown << text.toString();
        for (const QString& text : texts)
            QVERIFY2(shown.contains(text), qPrintable(shown.join('|')));
        QVERIFY2(kind != -1 || room > 0, "the input box cuts its title");
        if (kind == -2 || kind == -3) {
            QCOMPARE(columns, (QStringList{"Nome", "Dimensione", "Tipo", "Data di modifica"}));
            QCOMPARE(folderType, "Cartella");
        }
    }

    // The version restored is the one selected, whose SQL and database the dialog shows.
    void versionChosen() {
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        const QList<VersionItem> items{
            {"05/12/2026 10:00:00", "io", "modificata", "A", "Nuova", "select 2", "b.db", "MDB"},
            {"05/12/2026 09:00:00", "altro", "modificata", "A", "Prima", "select 1", "a.db",
             "MDB"}};
        QString shown;
        QTimer chooser;
        connect(&chooser, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->findChild<QListWidget*>()->setCurrentRow(1);
            shown = dialog->findChild<QPlainTextEdit*>()->toPlainText();
            dialog->accept();
        });
        chooser.start(20);
        QCOMPARE(platform().versions("Versioni precedenti di A", items), 1);
        QCOMPARE(shown, "Database: a.db   Tipo: MDB\n\nselect 1");
        QCOMPARE(capture.events().value(0)["result"].toInt(), 1);
    }

    // Where a document went for want of a printer is told without holding the program up:
    // a box of its own, and the "notice" event.
    void notice() {
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        QStringList opened;
        platform().setDocumentOpener([&](const QString& path) {
            opened << path;
            return true;
        });
        platform().showDocument("/home/u/Documents/velario/velario-1.pdf");
        platform().setDocumentOpener({});
        const QString text = "Nessuna stampante disponibile: il documento è stato salvato nel "
                             "file\r\r/home/u/Documents/velario/velario-1.pdf";
        QPointer<QMessageBox> box;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<QMessageBox*>(widget); shown && shown->isVisible())
                box = shown;
        QVERIFY(box && !box->isModal());
        QCOMPARE(box->text(), QString(text).replace('\r', '\n'));
        QCOMPARE(opened, QStringList{"/home/u/Documents/velario/velario-1.pdf"});
        const QList<QJsonObject> events = capture.events();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"], "notice");
        QCOMPARE(events[0]["text"], text);
        QCOMPARE(events[0]["title"], "Stampa");
        QCOMPARE(events[0]["path"], "/home/u/Documents/velario/velario-1.pdf");
        QCOMPARE(events[0]["buttons"].toArray(), QJsonArray{"OK"});
        platform().setDialogs(nullptr);
        QVERIFY(!box);
    }

    // The windows show the program's own icon.
    void icon() {
        installProgramIcon();
        const QImage image = QApplication::windowIcon().pixmap(128).toImage();
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.pixelColor(20, 110), QColor("#2f4858"));
    }
};

QTEST_MAIN(TestWidgetDialogs)
#include "tst_widget_dialogs.moc"
