#include "platform/platform.h"
#include "platform/translations.h"
#include "support/harness.h"

#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QTest>
#include <QTimer>

using namespace velario;

namespace {

enum Kind { Message, Input, Open, Save };

QStringList texts(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue v : value.toArray())
        list << v.toString();
    return list;
}

} // namespace

// The real dialogs, shown and closed by Escape, as the user reads them under the Italian locale.
class TestWidgetDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QLocale().language() == QLocale::Italian, "the tests run under it_IT.UTF-8");
        QVERIFY2(installQtTranslations(),
                 qPrintable(qtItalianTranslationsFile() + " missing: qt6-translations-l10n"));
    }

    void italian_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("filters");
        QTest::newRow("delete question")
            << int(Message) << (MsgBox::YesNo | MsgBox::Question) << "msgbox"
            << QStringList{"Sì", "No"} << QStringList() << QStringList();
        QTest::newRow("row question")
            << int(Message) << int(MsgBox::YesNoCancel) << "msgbox"
            << QStringList{"Sì", "No", "Annulla"} << QStringList() << QStringList();
        QTest::newRow("ok cancel")
            << int(Message) << int(MsgBox::OkCancel) << "msgbox" << QStringList{"OK", "Annulla"}
            << QStringList() << QStringList();
        QTest::newRow("input box") << int(Input) << 0 << "inputbox" << QStringList{"OK", "Annulla"}
                                   << QStringList() << QStringList();
        QTest::newRow("Sfoglia") << int(Open) << 0 << "filedialog" << QStringList{"Apri", "Annulla"}
                                 << QStringList{"Cerca in:", "Nome del file:", "File di tipo:"}
                                 << QStringList{"Tutti i file (*)"};
        QTest::newRow("export") << int(Save) << 0 << "filedialog" << QStringList{"Salva", "Annulla"}
                                << QStringList{"Cerca in:", "Nome del file:", "File di tipo:"}
                                << QStringList{"CSV, separato da punto e virgola (*.csv)",
                                               "CSV, separato da virgola (*.csv)",
                                               "Testo, separato da tabulazione (*.csv *.txt)"};
    }

    void italian() {
        QFETCH(int, kind);
        QFETCH(int, style);
        QFETCH(QString, event);
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        QTimer closer;
        int width = 0;
        int titleWidth = 0;
        connect(&closer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QFont bold = dialog->font();
            bold.setBold(true);
            titleWidth = QFontMetrics(bold).horizontalAdvance(dialog->windowTitle());
            width = dialog->width();
            dialog->reject();
        });
        closer.start(20);
        const QString title = QStringLiteral("STAMPA DATI DELLA GRIGLIA SELEZIONATA");
        if (kind == Message)
            platform().msgBox(QStringLiteral("Confermi ?"), style, title);
        else if (kind == Input)
            platform().inputBox(QStringLiteral("Righe"), title, QStringLiteral("1"));
        else if (kind == Open)
            platform().fileOpen(QDir::tempPath());
        else
            platform().fileSaveCsv(QDir::tempPath(), ';');
        const QList<QJsonObject> events = capture.events();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"].toString(), event);
        QTEST(texts(events[0]["buttons"]), "buttons");
        const QStringList shownLabels = texts(events[0]["labels"]);
        QFETCH(QStringList, labels);
        for (const QString& label : labels)
            QVERIFY2(shownLabels.contains(label), qPrintable(shownLabels.join('|')));
        QTEST(texts(events[0]["filters"]), "filters");
        if (kind == Input)
            QVERIFY2(width > titleWidth,
                     qPrintable(
                         QStringLiteral("%1 px for a title of %2 px").arg(width).arg(titleWidth)));
        if (kind >= Open)
            QVERIFY2(!events[0]["title"].toString().contains("Open") &&
                         !events[0]["title"].toString().isEmpty(),
                     qPrintable(events[0]["title"].toString()));
    }
};

QTEST_MAIN(TestWidgetDialogs)
#include "tst_widget_dialogs.moc"
