// The dialogs on their own: the generator's rows and checks, the about box and its RTF
// reader, the number fields.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/about_box.h"
#include "app/generator_dialog.h"
#include "app/main_app.h"
#include "app/number_fields.h"
#include "app/rtf_reader.h"
#include "test_prompts.h"

using namespace korvan;
using namespace korvan::app;

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void generatorShowsTheRowsOfEachShapeAndKeepsTypedText() {
        TestPrompts prompts;
        CGenerator g(prompts, nullptr);
        QCOMPARE(g.shapeList()->currentText(), QString("Kugla"));
        QCOMPARE(visibleRows(g), QList<int>({1, 2, 4}));
        QVERIFY(!g.preview()->pixmap().isNull());
        g.rowEdit(1)->setText("17");
        g.shapeList()->setCurrentIndex(3);  // Valjak
        QCOMPARE(visibleRows(g), QList<int>({1, 4, 5}));
        QCOMPARE(g.rowLabel(1)->text(), QString("Broj podjeljaka     (n) "));
        QCOMPARE(g.rowEdit(1)->text(), QString("17"));
        g.shapeList()->setCurrentIndex(1);
        QCOMPARE(visibleRows(g), QList<int>({4}));
        g.shapeList()->setCurrentIndex(2);
        QCOMPARE(visibleRows(g), QList<int>({4, 5, 6}));
    }

    void generatorRejectsOutOfBoundsFieldsAndFocusesThem() {
        struct Case {
            int shape;
            QStringList fields;
            int failingRow;  // 0: accepted
        };
        const Case cases[] = {
            {0, {"0", "0", "0"}, 1},  {0, {"3", "1000", "10000"}, 0},
            {0, {"2", "10", "1"}, 1}, {0, {"1001", "10", "1"}, 1},
            {0, {"10", "2", "1"}, 2}, {1, {"0.0001"}, 4},
            {1, {"0.0002"}, 0},       {1, {"10001"}, 4},
            {2, {"1", "1", "0"}, 6},  {3, {"8", "1", "-1"}, 5},
            {4, {"8", "1", "2"}, 0},
        };
        for (const Case& c : cases) {
            TestPrompts prompts;
            CGenerator g(prompts, nullptr);
            fill(g, c.shape, c.fields);
            g.OnMake();
            const QString what = QString("shape %1: %2").arg(c.shape).arg(c.fields.join(' '));
            if (c.failingRow == 0) {
                QVERIFY2(g.result() == QDialog::Accepted, qPrintable(what));
                QVERIFY2(prompts.messages.empty(), qPrintable(what));
                continue;
            }
            QVERIFY2(g.result() != QDialog::Accepted, qPrintable(what));
            QCOMPARE(prompts.messages.size(), size_t(1));
            QCOMPARE(prompts.messages[0].text, QString("Nedozvoljena vrijednost parametra"));
            QCOMPARE(prompts.messages[0].caption, QString("Greska"));
            QVERIFY2(g.focusWidget() == g.rowEdit(c.failingRow), qPrintable(what));
        }
    }

    void generatorStopsAtAFieldItCannotConvert() {
        for (const char* text : {"abc", "nan", "inf", "1,5", ""}) {
            TestPrompts prompts;
            CGenerator g(prompts, nullptr);
            fill(g, 1, {text});
            g.m_a = 2.0f;  // a stale value must not be used
            g.OnMake();
            QVERIFY2(g.result() != QDialog::Accepted, text);
            QCOMPARE(prompts.messages.size(), size_t(1));
            QCOMPARE(prompts.messages[0].text, QString(kEnterNumberMessage));
            QCOMPARE(g.focusWidget(), g.rowEdit(4));
        }
    }

    void numberFieldsAreWrittenWithTheFullStop() {
        QCOMPARE(formatFloat(0.01f), QString("0.01"));
        QCOMPARE(parseFloat(" 0.5 "), std::optional<float>(0.5f));
    }

    void rtfReaderKeepsTextAndFormatting() {
        const QByteArray rtf =
            "{\\rtf1\\ansi\\ansicpg1250{\\fonttbl{\\f0 Arial;}}"
            "{\\colortbl;\\red255\\green0\\blue0;}"
            "{\\*\\generator Some Writer;}"
            "\\pard Obi\\'e8na {\\b masna} \\cf1 crvena\\cf0\\par "
            "\\u268?esto \\{x\\}}";
        QTextDocument doc;
        doc.setHtml(rtfToHtml(rtf));
        const QString text = doc.toPlainText();
        QVERIFY2(text.contains(QString::fromUtf8("Obi\xC4\x8Dna masna crvena")), qPrintable(text));
        QVERIFY2(text.contains(QString::fromUtf8("\xC4\x8C"
                                                 "esto {x}")),
                 qPrintable(text));
        QVERIFY(!text.contains("Arial"));
        QVERIFY(!text.contains("Writer"));
        const QString html = rtfToHtml(rtf);
        QVERIFY(html.contains("font-weight:bold"));
        QVERIFY(html.contains("color:#ff0000"));
    }

    void aboutBoxReadsTheStartFolderAndReportsAMissingFileOnce() {
        QTemporaryDir dir;
        const std::string saved = g_startDir;
        g_startDir = dir.path().toStdString();
        QFile file(QDir(dir.path()).filePath("myfile.rtf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\\rtf1 Prvi tekst}");
        file.close();
        {
            TestPrompts prompts;
            CAboutBox about(prompts, nullptr);
            QCOMPARE(about.windowTitle(), QString("O programu..."));
            QCOMPARE(about.textArea()->toPlainText(), QString("Prvi tekst"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\\rtf1 Drugi tekst}");
            file.close();
            about.loadText();  // what every activation change does
            QCOMPARE(about.textArea()->toPlainText(), QString("Drugi tekst"));
            QVERIFY(prompts.messages.empty());
        }
        QVERIFY(file.remove());
        // Without a file in the start folder, the copy beside the program is shown.
        const bool besideProgram =
            QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath("myfile.rtf"));
        TestPrompts prompts;
        CAboutBox about(prompts, nullptr);
        about.loadText();
        about.loadText();
        if (besideProgram) {
            QVERIFY(about.textArea()->toPlainText().contains("Korvan"));
            QVERIFY(prompts.messages.empty());
        } else {
            QCOMPARE(prompts.messages.size(), size_t(1));
        }
        g_startDir = saved;
    }

private:
    static QList<int> visibleRows(CGenerator& g) {
        QList<int> rows;
        for (int row = 1; row <= 6; ++row) {
            if (!g.rowEdit(row)->isHidden() && !g.rowLabel(row)->isHidden()) {
                rows << row;
            }
        }
        return rows;
    }

    static void fill(CGenerator& g, int shape, const QStringList& fields) {
        g.shapeList()->setCurrentIndex(shape);
        int next = 0;
        for (int row = 1; row <= 6 && next < fields.size(); ++row) {
            if (!g.rowEdit(row)->isHidden()) {
                g.rowEdit(row)->setText(fields[next++]);
            }
        }
    }
};

int runDialogsTests(int argc, char** argv) {
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
