#include "controls/controls.h"
#include "platform/automation.h"
#include "platform/document_spool.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/program_icon.h"
#include "platform/translations.h"
#include "support/harness.h"
#include "support/pdf_lines.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>

using namespace velario;
using velario::test::InProcess;

namespace {

// A window whose handlers leave a trace.
class ProbeForm : public Form {
public:
    ProbeForm() : Form(QStringLiteral("frmProbe")) {
        auto* ok = new CommandButton(QStringLiteral("cmdOK"), QStringLiteral("Aggiorna"), this);
        (new CommandButton(QStringLiteral("cmdOFF"), QStringLiteral("Nuovo"), this))
            ->setEnabled(false);
        auto* odbc = new OptionButton(QStringLiteral("Option1"), QStringLiteral("ODBC"), this);
        connect(ok, &QPushButton::clicked, this, [this] {
            trace << "click:" + QString::number(platform().msgBox("Confermi ?", 36));
        });
        connect(code, &TextBox::lostFocus, this, [this] { trace << "lost:" + code->text(); });
        connect(odbc, &OptionButton::selected, this, [this] { trace << "odbc"; });
    }
    TextBox* code = new TextBox(QStringLiteral("txtCODE"), this);
    MemoBox* memo = new MemoBox(QStringLiteral("txtMEMO"), this);
    QStringList trace;
};

// The script's result with a window open, and what its handlers did.
QPair<int, QStringList> runScript(const QByteArray& script, InProcess& capture) {
    auto* form = Forms::instance().create<ProbeForm>();
    form->load();
    form->showModeless();
    ScriptParseError error;
    const auto steps = parseScript(script, &error);
    QPair<int, QStringList> result{
        steps ? ScriptRunner(*steps, capture.dialogs()).run() : -error.line, {}};
    if (Forms::instance().isEmpty())
        return result;
    result.second = form->trace << form->memo->text();
    form->unload();
    waitIdle();
    return result;
}

} // namespace

// The dialogs as a script answers them, and as the user sees them.
class TestDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir settings_;

private slots:
    // The focus leaves the field before the click; a queued answer is used once, then the
    // default button answers; steps that cannot run stop the script, a script that cannot be
    // read (-line) does not start.
    void steps_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("trace"); // ending with the memo's text
        QTest::newRow("drive the window")
            << QByteArray("# x\n\ntype frmProbe.txtCODE ABC\nclick frmProbe.Option1\nanswer 7\n"
                          "click frmProbe.cmdOK\nclick frmProbe.cmdOK\n"
                          "type frmProbe.txtMEMO \"select \\\"1\\\"\\r\\nfrom t\"\n")
            << 0 << QStringList{"lost:ABC", "odbc", "click:7", "click:6", "select \"1\"\r\nfrom t"};
        for (const char* step :
             {"click frmProbe.cmdOFF", "click frmNone.cmdOK", "key frmProbe.txtCODE NoSuchKey"})
            QTest::newRow(step) << "dump\n" + QByteArray(step) + "\ndump\n"
                                << 3 << QStringList{QString()};
        // Steps after the last window closed are not run: the unknown control is never seen.
        QTest::newRow("closing the last window ends the script")
            << QByteArray("close frmProbe\nclick frmProbe.cmdNONE\n") << 0 << QStringList();
        const QList<QPair<const char*, int>> unreadable{{"click a.b\nfrobnicate\n", -2},
                                                        {"click cmdOK\n", -1},
                                                        {"\nrow w.g x\n", -2},
                                                        {"edit w.g 3 1 X Y\n", 3},
                                                        {"dump\nchoose-version uno\n", -2},
                                                        {"cancel-version 1\n", -1}};
        for (const auto& [script, line] : unreadable)
            QTest::newRow(script) << QByteArray(script) << line << QStringList{QString()};
    }

    void steps() {
        QFETCH(QByteArray, script);
        QFETCH(int, result);
        QFETCH(QStringList, trace);
        InProcess capture;
        QCOMPARE(runScript(script, capture), qMakePair(result, trace));
    }

    // Work that outlasts the delay shows the progress dialog: a queued answer other than
    // Cancel is left for the message box it belongs to. (The result window's tests follow
    // every step of a run, a Cancel and quick work among them.)
    void progress() {
        InProcess capture;
        capture.dialogs().queueAnswer(MsgBox::No);
        QVERIFY(!platform().runCancellable(
            "Lavoro", "T", [] { QThread::msleep(1300); }, [] {}));
        QCOMPARE(platform().msgBox(QString(), MsgBox::YesNo, "T"), MsgBox::No);
        QCOMPARE(capture.summary(), (QStringList{"progress:Lavoro|null", "msgbox:|T|4"}));
    }

    // A document's lines go to the transcript as they are printed: an event told meanwhile
    // comes first and whole, the document after it whole; a document dropped leaves nothing.
    void documentLines() {
        InProcess capture;
        const PrintFont font;
        for (const auto& [beepBetween, delivered] :
             {std::pair(true, true), std::pair(false, false), std::pair(true, false)}) {
            DocumentSpool spool;
            // Not started, it takes no lines: the printer builds none for it.
            QVERIFY(!spool.active());
            spool.start();
            spool.addAsciiLine("uno \"1\"", font);
            if (beepBetween)
                platform().beep();
            spool.beginLine();
            spool.addRun(QStringLiteral("due è"), font);
            spool.endLine();
            delivered ? spool.deliver(QStringLiteral("x.pdf")) : spool.drop();
        }
        platform().beep();
        QCOMPARE(capture.summary(), QStringList({"beep", "document", "beep", "beep"}));
        const QList<QJsonObject> events = capture.events();
        for (const QJsonObject& event : events)
            QVERIFY(event["t"].isDouble());
        QStringList document{events[1]["destination"].toString()};
        for (const QJsonValue line : events[1]["lines"].toArray())
            document << test::lineText(line);
        QCOMPARE(document, (QStringList{"x.pdf", "uno \"1\"", "due è"}));
    }

    // The real dialogs, closed by Escape, as the user reads them under the Italian locale: the
    // texts among their buttons, labels and file types, the input box as wide as its title, and the
    // file dialogs' columns wide enough for their captions, a folder's type in Italian.
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
        QTest::addColumn<QString>("texts");
        QTest::newRow("delete") << (MsgBox::YesNo | MsgBox::Question) << "Sì|No";
        QTest::newRow("rows") << int(MsgBox::YesNoCancel) << "Sì|No|Annulla";
        QTest::newRow("input box") << -1 << "OK|Annulla";
        QTest::newRow("Sfoglia")
            << -2 << "Apri|Annulla|Cerca in:|Nome del file:|File di tipo:|Tutti i file (*)";
        QTest::newRow("export") << -3 << "Salva|Annulla|Nome del file:";
        QTest::newRow("versions") << -4 << "Ripristina|Annulla|Versioni, dalla più recente:";
    }

    void italian() {
        QFETCH(int, kind);
        QFETCH(QString, texts);
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        int room = 0;
        // A file dialog's captions, "cut" where the column is too narrow, then a folder's type.
        QStringList columns;
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
                columns << files->model()->index(0, 2, files->rootIndex()).data().toString();
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
        for (const QString& text : texts.split('|'))
            QVERIFY2(shown.contains(text), qPrintable(shown.join('|')));
        QVERIFY2(kind != -1 || room > 0, "the input box cuts its title");
        if (kind == -2 || kind == -3)
            QCOMPARE(columns,
                     (QStringList{"Nome", "Dimensione", "Tipo", "Data di modifica", "Cartella"}));
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
        const QString path = "/home/u/Documents/velario/velario-1.pdf";
        platform().setDocumentOpener([](const QString&) { return true; });
        platform().showDocument(path);
        platform().setDocumentOpener({});
        const QString text =
            "Nessuna stampante disponibile: il documento è stato salvato nel file\r\r" + path;
        QPointer<QMessageBox> box;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<QMessageBox*>(widget); shown && shown->isVisible())
                box = shown;
        QVERIFY(box && !box->isModal());
        const QJsonObject told = capture.events()[0];
        QCOMPARE(
            (QStringList{capture.summary().join(u'|'), box->text(), told["text"].toString(),
                         told["title"].toString(), told["path"].toString(),
                         told["buttons"].toVariant().toStringList().join(u'|')}),
            (QStringList{"notice", QString(text).replace('\r', '\n'), text, "Stampa", path, "OK"}));
        platform().setDialogs(nullptr);
        QVERIFY(!box);
    }

    // The windows show the program's own icon.
    void icon() {
        installProgramIcon();
        const QImage image = QApplication::windowIcon().pixmap(128).toImage();
        QCOMPARE(image.pixelColor(20, 110), QColor("#2f4858"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
