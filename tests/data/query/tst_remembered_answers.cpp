#include "data/query/remembered_answers.h"
#include "support/harness.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace velario::data;

class TestRememberedAnswers : public QObject {
    Q_OBJECT

private slots:
    // Each entry keeps its own answers, by name in any letter case; a later run replaces the
    // answers it gave and keeps the others. The folder is made when missing.
    void kept() {
        QTemporaryDir dir;
        const RememberedAnswers remembered(dir.filePath("velario/parametri.json"));
        QCOMPARE(remembered.answer("A", "dal"), QString());
        QVERIFY(remembered.remember("A", {{"dal", "01/01/2026"}, {"Cliente", ""}}));
        QVERIFY(remembered.remember("B", {{"dal", "2025-12-31"}}));
        QVERIFY(remembered.remember("A", {{"DAL", " 7 "}}));
        QCOMPARE(remembered.answer("A", "dal"), QStringLiteral(" 7 "));
        QCOMPARE(remembered.answer("A", "CLIENTE"), QString());
        QCOMPARE(remembered.answer("B", "Dal"), QStringLiteral("2025-12-31"));
        QCOMPARE(remembered.answer("C", "dal"), QString());
    }

    // A file that is not what it should be gives no answers, and one that cannot be written
    // is said so: neither throws nor stops anything.
    void unusable() {
        // Not JSON, not an object, a folder at the file's place.
        for (const QByteArray& content :
             {QByteArray("{\"A\": "), QByteArray("[1, 2]"), QByteArray()}) {
            QTemporaryDir dir;
            const QString path = dir.filePath("parametri.json");
            QVERIFY(content.isEmpty() ? QDir().mkdir(path)
                                      : velario::test::writeBytes(path, content));
            const RememberedAnswers remembered(path);
            QCOMPARE(remembered.answer("A", "dal"), QString());
            QCOMPARE(remembered.remember("A", {{"dal", "1"}}), !content.isEmpty());
            QCOMPARE(remembered.answer("A", "dal"),
                     content.isEmpty() ? QString() : QStringLiteral("1"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRememberedAnswers)
#include "tst_remembered_answers.moc"
