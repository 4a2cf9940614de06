// The milling animation from the desktop program: the dialog's opening rules and validation,
// START and PREDPOGLED runs with their frames, Escape, and frames that cannot be written.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "app/animator_dialog.h"
#include "app/commands.h"
#include "app/generator_dialog.h"
#include "app/main_frame.h"
#include "gcode/machining.h"
#include "gcode/program.h"
#include "meshio/edge_sampling.h"
#include "scene/animation.h"
#include "test_prompts.h"
#include "viewer/camera.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"

using namespace korvan;
using namespace korvan::app;

namespace {

// Writes nothing; the reference run of the core loop for the same settings.
class NullSink : public FrameSink {
public:
    bool DrawAndSaveFrame(Scene&, int32_t, const std::string&, const std::string&) override {
        return true;
    }
};

}  // namespace

class AnimatorTest : public QObject {
    Q_OBJECT

public:
    explicit AnimatorTest(CMainFrame& frame) : m_frame(frame), m_view(frame.view()) {}

private slots:
    void init() {
        m_prompts = installPrompts(m_view);
        resetView(m_view.viewState());
        QVERIFY(prepare(m_view.scene()));
        placeCameraForObject(m_view.viewState(), m_view.scene().m_object1, kNearAfterGenerating);
        m_view.setCurrentFolder(m_dir.path());
        m_frame.updateCommandStates();
    }
    void cleanup() {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void refusedFieldsStartNothing() {
        // A step beyond 1e6 would send the tool where float has no precision left.
        const char* cases[][3] = {
            {"0", nullptr, "Unesite cijeli broj izmedu 1 i 1000.\nPolje: Broj slika"},
            {"1001", nullptr, "Unesite cijeli broj izmedu 1 i 1000.\nPolje: Broj slika"},
            {"abc", nullptr, "Unesite cijeli broj.\nPolje: Broj slika"},
            {"2", "2e6", "Unesite broj izmedu -1000000 i 1000000.\nPolje: Korak (x os)"}};
        for (const auto& c : cases) {
            const char* step = c[1];
            m_prompts->messages.clear();
            m_prompts->dialogHandler = [&](QDialog& d) {
                auto& a = dynamic_cast<CAnimator&>(d);
                a.countEdit()->setText(c[0]);
                if (step != nullptr) {
                    a.findChild<QLineEdit*>("1022")->setText(step);
                }
                a.OnStart();  // refused: a prompt, and the dialog stays open
                return a.result() == QDialog::Accepted ? int(QDialog::Accepted)
                                                       : int(QDialog::Rejected);
            };
            m_frame.OnCmdMsg(ID_ANIMATION);
            QCOMPARE(m_prompts->messages.size(), size_t(1));
            QCOMPARE(m_prompts->messages[0].text, QString(c[2]));
            QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 0);
        }
    }

    void browseFillsThePathAndRestoresUnreadFields() {
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& a = dynamic_cast<CAnimator&>(d);
            const QString stored = a.countEdit()->text();
            a.countEdit()->setText("77");  // typed, not read
            m_prompts->fileNames = {};     // cancelled: nothing changes
            a.OnBrowse();
            check(a.countEdit()->text() == "77" && a.m_outputEdit->text() == a.m_outputFile);
            m_prompts->fileNames = {"/tmp/film/anim"};
            a.OnBrowse();
            check(a.m_outputFile == "/tmp/film/anim" && a.m_outputEdit->text() == a.m_outputFile);
            check(a.countEdit()->text() == stored);
            return int(QDialog::Rejected);
        };
        m_frame.OnCmdMsg(ID_ANIMATION);
        QVERIFY(m_checks);
    }

    void startMillsObject1AsTheCommandLineWould() {
        QFETCH(bool, closed);
        m_view.scene().m_closedResult = closed;
        Scene reference;
        QVERIFY(prepare(reference));
        reference.m_closedResult = closed;
        const Vector4 start = m_view.scene().m_object2Offset;
        answer("3", "anim", [](CAnimator& a) {
            a.m_formatList->setCurrentIndex(2);  // JPG
            a.OnStart();
        });
        const QStringList frames = QDir(m_dir.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(frames, QStringList({"anim0000.JPG", "anim0001.JPG", "anim0002.JPG"}));
        const QImage picture(m_dir.filePath("anim0002.JPG"));
        QCOMPARE(picture.size(), m_view.grabFramebuffer().size());
        QVERIFY2(qGray(picture.pixel(0, 0)) > 245, qPrintable(QColor(picture.pixel(0, 0)).name()));
        QCOMPARE(m_view.scene().m_object2Offset, start);
        QVERIFY(!m_view.scene().m_animationRunning);

        NullSink sink;
        AnimationSettings settings;
        settings.x.step = -0.2f;
        settings.frameCount = 3;
        const AnimationResult r = korvan::RunAnimation(reference, settings, sink);
        QVERIFY(r.status.ok());
        QVERIFY(reference.m_object1.vertices == m_view.scene().m_object1.vertices);
        m_view.scene().m_closedResult = false;
    }
    // The closed engine's run computes a frame ahead while the view draws, where drawing is slow.
    void startMillsObject1AsTheCommandLineWould_data() {
        QTest::addColumn<bool>("closed");
        QTest::newRow("octree") << false;
        QTest::newRow("closed") << true;
    }

    void previewWritesTheSameFramesAndLeavesObject1() {
        const std::vector<Vector4> before = m_view.scene().m_object1.vertices;
        answer("3", "pre", [](CAnimator& a) { a.OnPreview(); });
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 3);
        QVERIFY(QFile::exists(m_dir.filePath("pre0002.BMP")));
        QVERIFY(m_view.scene().m_object1.vertices == before);
    }

    void escapeStopsTheRun() {
        const std::vector<Vector4> vertices2 = m_view.scene().m_object2.vertices;
        const Vector4 start = m_view.scene().m_object2Offset;
        answer("50", "esc", [this](CAnimator& a) {
            QCoreApplication::postEvent(
                &m_view, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            a.OnStart();
        });
        // Escape reaches the run inside its first frame or after it, never later.
        const QStringList frames = QDir(m_dir.path()).entryList(QDir::Files);
        QVERIFY2(frames.isEmpty() || frames == QStringList({"esc0000.BMP"}),
                 qPrintable(frames.join(' ')));
        QCOMPARE(m_view.scene().m_object2Offset, start);
        QCOMPARE(m_view.scene().m_object2.vertices.size(), vertices2.size());
        QVERIFY(!m_view.busy());
    }

    void commandLinePictureMatchesTheView() {
        m_view.viewState().m_coloredMaterials = true;
        m_view.viewState().m_rotY = 30.0f;
        m_view.viewState().m_rotX = 20.0f;
        const RgbImage shown = m_view.grabPicture();
        QVERIFY(shown.valid());
        m_view.doneCurrent();  // one current context per thread, across GLX and EGL
        std::unique_ptr<HeadlessContext> context;
        if (Status s = HeadlessContext::create(shown.width, shown.height, context); !s) {
            QSKIP(qPrintable(QString::fromStdString("no headless context: " + s.message())));
        }
        RgbImage headless;
        {
            ViewState view = m_view.viewState();
            HeadlessFrameSink sink(*context, view);
            QVERIFY(sink.drawAndRead(m_view.scene(), headless).ok());
        }
        context.reset();
        QCOMPARE(headless.width, shown.width);
        QCOMPARE(headless.height, shown.height);
        int64_t differing = 0;
        for (size_t i = 0; i < shown.pixels.size(); i += 3) {
            for (size_t c = 0; c < 3; ++c) {
                if (std::abs(int(shown.pixels[i + c]) - int(headless.pixels[i + c])) > 2) {
                    ++differing;
                    break;
                }
            }
        }
        // The same drawing code on the same renderer: at most a few edge pixels may differ.
        QVERIFY2(differing * 1000 < int64_t(shown.width) * shown.height,
                 qPrintable(QString::number(differing)));
        m_view.update();
    }

    void onlyTheChosenMotionsFieldsAreEnabled() {
        QStringList enabled;
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& a = dynamic_cast<CAnimator&>(d);
            auto state = [&] {
                QString s;
                for (const char* id : {"1022", "1026", "1027", "1028"}) {
                    s += a.findChild<QLineEdit*>(id)->isEnabled() ? '1' : '0';
                }
                return s;
            };
            enabled << state();
            QTest::mouseClick(a.radio(0, true), Qt::LeftButton);
            enabled << state();
            QTest::mouseClick(a.radio(0, false), Qt::LeftButton);
            enabled << state();
            return int(QDialog::Rejected);
        };
        m_frame.OnCmdMsg(ID_ANIMATION);
        // Korak, Amplituda, Inkrement kuta, Pocetni kut of the x axis.
        QCOMPARE(enabled, QStringList({"1000", "0111", "1000"}));
    }

    void aRunShowsItsProgressAndIsOneUndoStep() {
        const int triangles = m_view.scene().m_object1.triangleCount();
        QStringList shown;
        auto* bar = m_frame.statusBar();
        const auto connection = connect(bar, &QStatusBar::messageChanged, this,
                                        [&](const QString& text) { shown << text; });
        answer("2", "run", [](CAnimator& a) { a.OnStart(); });
        disconnect(connection);
        QVERIFY2(shown.contains("Slika 1/2 - tipka Esc prekida animaciju"),
                 qPrintable(shown.join('|')));
        QVERIFY(shown.contains("Slika 2/2 - tipka Esc prekida animaciju"));
        QCOMPARE(bar->currentMessage(), QString("Animacija gotova: 2 slike"));
        QVERIFY(m_view.scene().m_object1.triangleCount() != triangles);
        QVERIFY(m_view.resultUnsaved());
        m_frame.updateCommandStates();
        m_frame.menuAction(ID_UNDO)->trigger();
        QCOMPARE(m_view.scene().m_object1.triangleCount(), triangles);
    }

    void framesThatCannotBeWrittenAreReportedOnce() {
        answer("2", "missing/x", [](CAnimator& a) { a.OnStart(); });
        QCOMPARE(m_prompts->messages.size(), size_t(1));
        QCOMPARE(m_prompts->messages[0].text,
                 QString("Greska kod spremanja slike!\nNije zapisano slika: 2 od 2"));
    }

    // A slot milled from a box stock in the dialog: the part cnc makes of the same program,
    // the report, one step of "Ponisti", and the values kept for the next session.
    void gcodeRunMillsObject1AsCncWould() {
        const QString program = writeProgram(
            "slot.nc", "G90 G21\nG0 X20 Y30 Z5\nG1 Z-3 F200\nG1 X45 F800\nG1 X70\nG0 Z5\nM30\n");
        const std::vector<Vector4> before = m_view.scene().m_object1.vertices;
        const size_t steps = m_view.undoHistory().undoCount();
        runGcode(program);
        QVERIFY(!m_view.busy());

        gcode::Program read;
        QVERIFY(gcode::readGcode(program.toStdString(), read).ok());
        Solid part;
        QVERIFY(gcode::makeBoxStock({0, 0, -20}, {100, 60, 0}, part).ok());
        gcode::ToolChoice tools;
        tools.fixed = gcode::ToolSpec{gcode::ToolShape::Flat, 6.0, 0.0, 0.0, 20.0};
        gcode::MachiningReport report;
        QVERIFY(gcode::machineProgram(read, tools, {}, part, report).ok());
        QCOMPARE(gcode::meshVolume(m_view.scene().m_object1), report.volume);
        QVERIFY(m_view.scene().m_object1.vertices == part.vertices);

        QCOMPARE(m_prompts->messages.size(), size_t(1));
        QCOMPARE(m_prompts->messages[0].caption, QString("Izvjestaj obrade"));
        QVERIFY2(m_prompts->messages[0].text.startsWith("Pomaka: 5 (posmak 3, brzi hod 2)\n"
                                                        "Uklonjeni volumen: 984.4744\n"),
                 qPrintable(m_prompts->messages[0].text));
        QCOMPARE(m_view.undoHistory().undoCount(), steps + 1);
        m_frame.updateCommandStates();
        m_frame.menuAction(ID_UNDO)->trigger();
        QVERIFY(m_view.scene().m_object1.vertices == before);

        // A new dialog (the next session's) opens with the G-code source and its values.
        CAnimator next(*m_prompts, nullptr);
        QCOMPARE(next.m_source, 1);
        QCOMPARE(next.m_gcode->m_file, program);
        QCOMPARE(next.m_gcode->m_corners[3], 100.0);
    }

    void stoppedGcodeRunLeavesTheSceneAsItWas() {
        // Many short feeds that no two join, so the stop comes long before the end.
        QByteArray text = "G0 X10 Y10 Z5\nG1 Z-2 F300\n";
        for (int i = 1; i <= 300; ++i) {
            text += QByteArray("G1 X") + QByteArray::number(10 + i * 0.2) + " Y" +
                    QByteArray::number(i % 2 == 0 ? 10 : 12) + "\n";
        }
        const QString program = writeProgram("long.nc", text + "M30\n");
        const std::vector<Vector4> before = m_view.scene().m_object1.vertices;
        const size_t steps = m_view.undoHistory().undoCount();
        const bool unsaved = m_view.resultUnsaved();
        QCoreApplication::postEvent(
            &m_view, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        runGcode(program);
        QVERIFY(m_view.scene().m_object1.vertices == before);
        QCOMPARE(m_view.undoHistory().undoCount(), steps);
        QVERIFY(m_prompts->messages.empty());
        QVERIFY2(m_frame.statusBar()->currentMessage().startsWith("Obrada prekinuta nakon retka"),
                 qPrintable(m_frame.statusBar()->currentMessage()));
        QCOMPARE(m_view.resultUnsaved(), unsaved);
    }

private:
    // A cube and a small sphere, coarsely sampled, the tool placed at (0.5, 0.5, 0.5).
    static bool prepare(Scene& scene) {
        scene.m_samplingFactor = 0.25f;
        scene.m_object2Offset = Vector4(0.5f, 0.5f, 0.5f);
        return scene.GenerateObject(1, PrimitiveParameters::cube(1.5f)).ok() &&
               scene.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.4f)).ok();
    }

    // Opens the dialog, sets the frame count, the output name and x step -0.2, then `press`;
    // after a PREDPOGLED the reopened dialog is cancelled.
    template <typename Press>
    void answer(const char* count, const char* output, Press press) {
        int openings = 0;
        m_prompts->dialogHandler = [=, &openings](QDialog& d) {
            auto& a = dynamic_cast<CAnimator&>(d);
            if (++openings > 1) {
                return int(QDialog::Rejected);
            }
            a.countEdit()->setText(count);
            a.m_outputEdit->setText(output);
            a.findChild<QLineEdit*>("1022")->setText("-0.2");
            press(a);
            return a.result();
        };
        m_frame.OnCmdMsg(ID_ANIMATION);
        m_prompts->dialogHandler = nullptr;
    }

    QString writeProgram(const char* name, const QByteArray& text) {
        const QString path = m_dir.filePath(name);
        return writeFile(path, text) ? path : QString();
    }

    // Runs `program` from the dialog's G-code source with a flat end mill of 6 by 20 and the
    // box 0,0,-20 to 100,60,0 as the stock; the dialog is left on the axes for the next test.
    void runGcode(const QString& program) {
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& a = dynamic_cast<CAnimator&>(d);
            a.findChild<QRadioButton*>("gcodeSourceChoice")->setChecked(true);
            a.findChild<QLineEdit*>("gcodeFile")->setText(program);
            const char* fields[] = {"toolDiameter", "toolFluteLength", "stockx0", "stocky0",
                                    "stockz0",      "stockx1",         "stocky1", "stockz1"};
            const char* values[] = {"6", "20", "0", "0", "-20", "100", "60", "0"};
            for (size_t i = 0; i < std::size(fields); ++i) {
                a.findChild<QLineEdit*>(fields[i])->setText(values[i]);
            }
            a.findChild<QComboBox*>("toolKind")->setCurrentIndex(0);
            a.OnStart();
            return a.result();
        };
        m_frame.OnCmdMsg(ID_ANIMATION);
        m_prompts->dialogHandler = [](QDialog& d) {
            dynamic_cast<CAnimator&>(d).m_source = 0;
            return int(QDialog::Rejected);
        };
        const std::vector<RecordedMessage> messages = m_prompts->messages;
        m_frame.OnCmdMsg(ID_ANIMATION);
        m_prompts->messages = messages;
        m_prompts->dialogHandler = nullptr;
    }

    void check(bool ok) { m_checks = m_checks && ok; }

    CMainFrame& m_frame;
    CSceneView& m_view;
    TestPrompts* m_prompts = nullptr;
    QTemporaryDir m_dir;
    bool m_checks = true;
};

int runAnimatorTests(CMainFrame& frame, int argc, char** argv) {
    AnimatorTest test(frame);
    return QTest::qExec(&test, argc, argv);
}

#include "animator_test.moc"
