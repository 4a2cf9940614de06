// The dialogs on their own: the generator's rows, start values and checks, the about box and
// its RTF reader, the number fields, the buttons, the object information.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/about_box.h"
#include "app/generator_dialog.h"
#include "app/info_display.h"
#include "app/main_app.h"
#include "app/number_fields.h"
#include "app/prikazni.h"
#include "app/rtf_reader.h"
#include "generator/generators.h"
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
        QCOMPARE(visibleTexts(g), QStringList({"32", "32", "1"}));  // valid from the start
        QVERIFY(!g.preview()->pixmap().isNull());
        g.rowEdit(1)->setText("17");
        g.shapeList()->setCurrentIndex(3);  // Valjak
        QCOMPARE(visibleRows(g), QList<int>({1, 4, 5}));
        QCOMPARE(g.rowLabel(1)->text(), QString("Broj podjeljaka     (n) "));
        QCOMPARE(visibleTexts(g), QStringList({"32", "0.5", "1"}));
        g.shapeList()->setCurrentIndex(1);
        QCOMPARE(visibleRows(g), QList<int>({4}));
        g.shapeList()->setCurrentIndex(2);
        QCOMPARE(visibleRows(g), QList<int>({4, 5, 6}));
        g.shapeList()->setCurrentIndex(0);
        QCOMPARE(visibleTexts(g), QStringList({"17", "32", "1"}));  // what was typed stays
    }

    void generatorStartsWithTheValuesItMadeLast() {
        TestPrompts prompts;
        GeneratorValues kept;
        {
            CGenerator g(prompts, nullptr, kept);
            fillGenerator(g, 3, {"12", "0,75", "2"});  // a cylinder, with a decimal comma
            g.OnMake();
            QCOMPARE(g.result(), int(QDialog::Accepted));
            kept = g.values();
        }
        {
            CGenerator g(prompts, nullptr, kept);
            QCOMPARE(g.shapeList()->currentText(), QString("Valjak"));
            QCOMPARE(visibleTexts(g), QStringList({"12", "0.75", "2"}));
            g.shapeList()->setCurrentIndex(0);
            QCOMPARE(visibleTexts(g), QStringList({"32", "32", "1"}));
            // Refused or cancelled, nothing new is kept.
            g.rowEdit(1)->setText("2");
            g.OnMake();
            QCOMPARE(g.values().shape, Shape::Cylinder);
            QCOMPARE(g.values().perShape[0].m, 32);
        }
        QVERIFY(prompts.messages.size() == 1);
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
            fillGenerator(g, c.shape, c.fields);
            g.OnMake();
            const QString what = QString("shape %1: %2").arg(c.shape).arg(c.fields.join(' '));
            if (c.failingRow == 0) {
                QVERIFY2(g.result() == QDialog::Accepted, qPrintable(what));
                QVERIFY2(prompts.messages.empty(), qPrintable(what));
                continue;
            }
            QVERIFY2(g.result() != QDialog::Accepted, qPrintable(what));
            QCOMPARE(prompts.messages.size(), size_t(1));
            // The message names the field and the bounds it must keep.
            const QString& text = prompts.messages[0].text;
            QVERIFY2(text.startsWith("Nedozvoljena vrijednost parametra\n"), qPrintable(text));
            QVERIFY2(text.contains(g.rowLabel(c.failingRow)->text().simplified() + ": "),
                     qPrintable(text));
            QVERIFY2(text.contains(c.failingRow <= 3 ? "od 3 do 1000" : "0.0001, najvise 10000"),
                     qPrintable(text));
            QCOMPARE(prompts.messages[0].caption, QString("Greska"));
            QVERIFY2(g.focusWidget() == g.rowEdit(c.failingRow), qPrintable(what));
        }
    }

    void generatorStopsAtAFieldItCannotConvert() {
        for (const char* text : {"abc", "nan", "inf", "1,5.2", "1,,5", ""}) {
            TestPrompts prompts;
            CGenerator g(prompts, nullptr);
            fillGenerator(g, 1, {text});
            g.m_a = 2.0f;  // a stale value must not be used
            g.OnMake();
            QVERIFY2(g.result() != QDialog::Accepted, text);
            QCOMPARE(prompts.messages.size(), size_t(1));
            QCOMPARE(prompts.messages[0].text,
                     QString("Unesite broj.\nDuljina stranice (a): broj veci od 0.0001, najvise "
                             "10000"));
            QCOMPARE(g.focusWidget(), g.rowEdit(4));
        }
    }

    void numberFieldsTakeTheDecimalCommaAndWriteTheFullStop() {
        QCOMPARE(formatFloat(0.01f), QString("0.01"));
        QCOMPARE(parseFloat(" 0.5 "), std::optional<float>(0.5f));
        QCOMPARE(parseFloat("1,5"), std::optional<float>(1.5f));
        QCOMPARE(parseFloat("-0,25"), std::optional<float>(-0.25f));
        for (const char* refused : {"1,000.5", "1.000,5", "1,5,3", ",", "1,5e"}) {
            QVERIFY2(!parseFloat(refused), refused);
        }
        QVERIFY(!parseInteger("1,0"));
    }

    void countsTakeTheCroatianPlural() {
        const std::pair<int, const char*> cases[] = {
            {0, "0 slika"},     {1, "1 slika"},     {2, "2 slike"},     {4, "4 slike"},
            {5, "5 slika"},     {11, "11 slika"},   {12, "12 slika"},   {14, "14 slika"},
            {21, "21 slika"},   {22, "22 slike"},   {24, "24 slike"},   {25, "25 slika"},
            {101, "101 slika"}, {111, "111 slika"}, {113, "113 slika"}, {1003, "1003 slike"},
        };
        for (const auto& [count, expected] : cases) {
            QCOMPARE(countedNoun(count, "slika", "slike", "slika"), QString(expected));
        }
        QCOMPARE(countedNoun(21, "trokut", "trokuta", "trokuta"), QString("21 trokut"));
        QCOMPARE(countedNoun(3, "trokut", "trokuta", "trokuta"), QString("3 trokuta"));
    }

    void dialogsSayURedu() {
        TestPrompts prompts;
        CinfoDisplay info(nullptr);
        CAboutBox about(prompts, nullptr);
        CPrikazni factor(prompts, "Unesite faktor uzorkovanja", nullptr,
                         QString::fromLatin1(kSamplingFactorLabel));
        for (QDialog* dialog : std::initializer_list<QDialog*>{&info, &about, &factor}) {
            QStringList texts;
            for (const QPushButton* button : dialog->findChildren<QPushButton*>()) {
                texts << button->text();
            }
            QVERIFY2(texts.contains("U redu") && !texts.contains("OK"),
                     qPrintable(texts.join('|')));
        }
        // The factor's dialog says what the number is and can be cancelled.
        QVERIFY(factor.findChild<QLabel*>()->text().startsWith("Faktor uzorkovanja"));
        QPushButton* cancel = factor.findChild<QPushButton*>("2");
        QCOMPARE(cancel->text(), QString("Odustani"));
        factor.m_value = 0.5f;
        factor.exchangeToControls();
        factor.valueEdit()->setText("0,02");
        cancel->click();
        QCOMPARE(factor.result(), int(QDialog::Rejected));
        QCOMPARE(factor.m_value, 0.5f);
    }

    void infoTellsTheBoxVolumeAndClosedness() {
        Solid cube;
        MakeCube(cube, 2.0f);
        cube.loaded = 1;
        // A cube with one triangle missing: three open edges.
        Solid open;
        MakeCube(open, 1.0f);
        open.triangles.pop_back();
        const QString text = objectInfoText(cube, open);
        const QStringList sections = text.split("\r\n\r\n", Qt::SkipEmptyParts);
        QCOMPARE(sections.size(), 2);
        QVERIFY2(sections[0].startsWith("[Objekt 1]\r\nBroj vrhova: 8\r\nBroj trokuta: 12"),
                 qPrintable(sections[0]));
        QVERIFY2(sections[0].contains("Okvir: (-1, -1, -1) - (1, 1, 1)"), qPrintable(sections[0]));
        QVERIFY2(sections[0].contains("Volumen: 8\r\n"), qPrintable(sections[0]));
        QVERIFY(sections[0].contains("Zatvoreno: da"));
        QVERIFY(sections[0].contains("Otvoreni bridovi: 0, nemnogostruki bridovi: 0"));
        QVERIFY2(sections[1].startsWith("[Objekt 2]"), qPrintable(sections[1]));
        QVERIFY(sections[1].contains("Zatvoreno: ne"));
        QVERIFY(sections[1].contains("Otvoreni bridovi: 3, nemnogostruki bridovi: 0"));
        QCOMPARE(objectInfoText(Solid(), Solid()), QString("Ne postoje nikakvi objekti!"));
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

    static QStringList visibleTexts(CGenerator& g) {
        QStringList texts;
        for (int row : visibleRows(g)) {
            texts << g.rowEdit(row)->text();
        }
        return texts;
    }
};

int runDialogsTests(int argc, char** argv) {
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
