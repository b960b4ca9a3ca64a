#include "platform/platform.h"
#include "platform/translations.h"
#include "support/harness.h"

#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QTest>
#include <QTimer>

using namespace velario;

// The real dialogs, closed by Escape, as the user reads them under the Italian locale: the texts
// among their buttons, labels and file types, and the input box as wide as its title.
class TestWidgetDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QLocale().language() == QLocale::Italian && installQtTranslations(),
                 qPrintable(qtItalianTranslationsFile() + ": missing, or not under it_IT"));
    }

    void italian_data() {
        QTest::addColumn<int>("kind"); // a message box's style; -1 input box, -2 open, -3 save
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("delete") << (MsgBox::YesNo | MsgBox::Question) << QStringList{"Sì", "No"};
        QTest::newRow("rows") << int(MsgBox::YesNoCancel) << QStringList{"Sì", "No", "Annulla"};
        QTest::newRow("input box") << -1 << QStringList{"OK", "Annulla"};
        QTest::newRow("Sfoglia") << -2 << QStringList{"Apri",          "Annulla",
                                                      "Cerca in:",     "Nome del file:",
                                                      "File di tipo:", "Tutti i file (*)"};
        QTest::newRow("export") << -3 << QStringList{"Salva", "Annulla", "Nome del file:"};
    }

    void italian() {
        QFETCH(int, kind);
        QFETCH(QStringList, texts);
        test::InProcess capture;
        platform().setDialogs(makeWidgetDialogs());
        int room = 0;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&room] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                QFont bold = dialog->font();
                bold.setBold(true);
                room =
                    dialog->width() - QFontMetrics(bold).horizontalAdvance(dialog->windowTitle());
                dialog->reject();
            }
        });
        closer.start(20);
        const QString title = QStringLiteral("STAMPA DATI DELLA GRIGLIA SELEZIONATA");
        if (kind >= 0)
            platform().msgBox(QStringLiteral("Confermi ?"), kind, title);
        else if (kind == -1)
            platform().inputBox(QStringLiteral("Righe"), title, QStringLiteral("1"));
        else if (kind == -2)
            platform().fileOpen(QDir::tempPath());
        else
            platform().fileSaveCsv(QDir::tempPath(), ';');
        const QJsonObject event = capture.events().value(0);
        QStringList shown;
        for (const char* key : {"buttons", "labels", "filters"})
            for (const QJsonValue text : event[QLatin1String(key)].toArray())
                shown << text.toString();
        for (const QString& text : texts)
            QVERIFY2(shown.contains(text), qPrintable(shown.join('|')));
        QVERIFY2(kind != -1 || room > 0, "the input box cuts its title");
    }
};

QTEST_MAIN(TestWidgetDialogs)
#include "tst_widget_dialogs.moc"
