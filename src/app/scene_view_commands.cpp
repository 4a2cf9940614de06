// The commands handled by the scene view.
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QOpenGLFunctions>
#include <QSettings>

#include <cstring>
#include <optional>

#include "app/app_settings.h"
#include "app/generator_dialog.h"
#include "app/info_display.h"
#include "app/prikazni.h"
#include "app/scene_view.h"
#include "formats/mesh_file.h"
#include "geometry/mesh_defects.h"
#include "image/image.h"

namespace korvan::app {
namespace {

// An operation the user stopped: the scene is as it was, and no message box says so.
bool stoppedByUser(const Status& s) {
    return s.message() == kStoppedMessage;
}

QString countsReport(const char* format, const Solid& solid) {
    return QString::asprintf(format, solid.triangleCount(), solid.vertexCount());
}

}  // namespace

bool CSceneView::OnCommand(int32_t id) {
    switch (id) {
        case ID_OPEN_OBJECT1:
            LoadObject(1);
            return true;
        case ID_OPEN_OBJECT2:
            LoadObject(2);
            return true;
        case ID_SAVE_OBJECT1:
            SaveObject(1);
            return true;
        case ID_SAVE_OBJECT2:
            SaveObject(2);
            return true;
        case ID_UNION:
        case ID_INTERSECTION:
        case ID_DIFFERENCE:
            RunBoolean(id);
            return true;
        case ID_ANIMATION:
            OnAnimation();
            return true;
        case ID_SAMPLING_FACTOR:
            OnSamplingFactor();
            return true;
        case ID_GENERATOR:
            OnGenerator();
            return true;
        case ID_VIEW_IMAGE:
            OnSaveViewImage();
            return true;
        case ID_COLORED_MATERIALS:
            m_viewState.m_coloredMaterials = !m_viewState.m_coloredMaterials;
            requestRedraw();
            return true;
        case ID_UNDO:
            OnUndo();
            return true;
        case ID_REDO:
            OnRedo();
            return true;
        case ID_FIT_VIEW:
            OnFitToView();
            return true;
        case ID_VIEW_FRONT:
            OnStandardView(StandardView::Front);
            return true;
        case ID_VIEW_TOP:
            OnStandardView(StandardView::Top);
            return true;
        case ID_VIEW_SIDE:
            OnStandardView(StandardView::Side);
            return true;
        case ID_VIEW_ISO:
            OnStandardView(StandardView::Iso);
            return true;
        case ID_OBJECT_INFO:
            OnObjectInfo();
            return true;
        case ID_OBJECT2_PLACEMENT:
            OnObject2Placement();
            return true;
        case ID_MOVE_OBJECT2:
        case ID_ROTATE_OBJECT2: {
            const QPoint p = mapFromGlobal(QCursor::pos());
            beginObject2Move();
            enterObject2Mode(m_viewState,
                             id == ID_MOVE_OBJECT2 ? kMouseMoveObject2 : kMouseRotateObject2, p.x(),
                             p.y());
            return true;
        }
        default:
            return false;
    }
}

bool CSceneView::OnUpdateCommand(int32_t id, CommandState& state) const {
    const bool loaded1 = viewScene().m_object1.loaded != 0;
    const bool loaded2 = viewScene().m_object2.loaded != 0;
    switch (id) {
        case ID_SAVE_OBJECT1:
            state.enabled = loaded1;
            return true;
        case ID_SAVE_OBJECT2:
        case ID_OBJECT2_PLACEMENT:
            state.enabled = loaded2;
            return true;
        case ID_UNION:
        case ID_INTERSECTION:
        case ID_DIFFERENCE:
        case ID_ANIMATION:
            state.enabled = loaded1 && loaded2;
            return true;
        case ID_COLORED_MATERIALS:
            state.checked = m_viewState.m_coloredMaterials ? 1 : 0;
            return true;
        case ID_UNDO:
            state.enabled = m_undo.canUndo();
            return true;
        case ID_REDO:
            state.enabled = m_undo.canRedo();
            return true;
        case ID_FIT_VIEW:
            state.enabled = loaded1 || loaded2;
            return true;
        default:
            return false;
    }
}

void CSceneView::rememberFolderOf(const QString& path) {
    m_currentFolder = QFileInfo(path).absolutePath();
    QSettings settings;
    writeFolder(settings, m_currentFolder);
}

void CSceneView::setRecentFiles(int32_t objectNumber, const QStringList& files) {
    m_recentFiles[objectNumber == 1 ? 0 : 1] = files.mid(0, kMaxRecentFiles);
    if (m_onRecentFiles) {
        m_onRecentFiles();
    }
}

void CSceneView::rememberRecentFile(int32_t objectNumber, const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = recentFiles(objectNumber);
    files.removeAll(full);
    files.prepend(full);
    setRecentFiles(objectNumber, files);
    QSettings settings;
    writeRecentFiles(settings, objectNumber, recentFiles(objectNumber));
}

bool CSceneView::maySafelyDiscardResult() {
    if (!m_resultUnsaved || m_scene.m_object1.loaded == 0) {
        return true;
    }
    switch (m_prompts->question(window(), QStringLiteral("Rezultat u objektu 1 nije spremljen.\n"
                                                         "Spremiti ga prije nastavka?"))) {
        case Prompts::Answer::Yes:
            return SaveObject(1);
        case Prompts::Answer::No:
            return true;
        case Prompts::Answer::Cancel:
            break;
    }
    return false;
}

void CSceneView::LoadObject(int32_t objectNumber) {
    if (objectNumber == 1 && !maySafelyDiscardResult()) {
        return;
    }
    const QString path = m_prompts->openFileName(this, m_currentFolder, meshFileFilter());
    if (path.isEmpty()) {
        return;
    }
    OpenFile(objectNumber, path, false);  // asked above, before the file dialog
}

bool CSceneView::OpenFile(int32_t objectNumber, const QString& path, bool askFirst) {
    if (busy() || (objectNumber == 1 && askFirst && !maySafelyDiscardResult())) {
        return false;
    }
    rememberFolderOf(path);
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    Status s;
    {
        BusyScope busy(*this);
        const std::string file = QFile::encodeName(path).toStdString();
        s = runWork([&] { return m_scene.LoadObject(objectNumber, file); });
        if (stoppedByUser(s)) {
            showStatus(QString::fromLatin1(kStoppedMessage));
            return false;
        }
        if (s) {
            m_undo.push(std::move(before));
            m_fileName[objectNumber - 1] = QFileInfo(path).absoluteFilePath();
            if (objectNumber == 1) {
                m_resultUnsaved = false;
            } else {
                m_object2Home = m_scene.m_object2.centre;
            }
            rememberRecentFile(objectNumber, path);
        }
        finishNewObject(objectNumber, s, kNearAfterReading,
                        "Procitano i uzorkovano tijelo:\n%d tokuta,  %d vrhova");
    }
    return s.ok();
}

void CSceneView::finishNewObject(int32_t objectNumber, const Status& status, double nearPlane,
                                 const char* report) {
    if (!status) {
        // The previous object, its tree and the camera stay as they were.
        queueMessage(QString::fromStdString(status.message()), QStringLiteral("Greska"),
                     Prompts::Icon::Error);
        return;
    }
    const Solid& target = objectNumber == 1 ? m_scene.m_object1 : m_scene.m_object2;
    if (objectNumber == 1) {
        placeCameraForObject(m_viewState, target, nearPlane, m_scene.m_keepCoordinates);
        // A turned scene may need more room than the box diagonal gives.
        const std::optional<double> fit = fittingEyeDistance(m_viewState, m_scene);
        if (fit && *fit > length(m_viewState.m_eye - m_viewState.m_target)) {
            fitSceneToView(m_viewState, m_scene);
        }
    }
    requestRedraw();
    // The operations take open or inside-out meshes as they are; the user should know.
    const std::string defects = describeDefects(analyzeTopology(target));
    QString text = countsReport(report, target);
    if (!defects.empty()) {
        text += QStringLiteral("\n\n") + QString::fromStdString(defects).trimmed();
    }
    // Two files opened at once give two reports: each box says which object it is about.
    const QString& file = fileName(objectNumber);
    QString caption = QStringLiteral("Objekt %1").arg(objectNumber);
    if (!file.isEmpty()) {
        caption += QStringLiteral(" - ") + QFileInfo(file).fileName();
    }
    queueMessage(text, caption, Prompts::Icon::None);
}

bool CSceneView::SaveObject(int32_t objectNumber) {
    const Solid& solid = objectNumber == 1 ? m_scene.m_object1 : m_scene.m_object2;
    if (solid.loaded == 0) {
        return false;
    }
    const QString path =
        m_prompts->saveFileName(this, m_currentFolder, meshFileFilter(), QStringLiteral("obj"));
    if (path.isEmpty()) {
        return false;
    }
    rememberFolderOf(path);
    // An existing file is replaced only by a complete new one.
    const Status s = writeMesh(solid, QFile::encodeName(path).toStdString());
    if (!s) {
        m_prompts->message(window(), QString::fromStdString(s.message()), {}, Prompts::Icon::Error);
        return false;
    }
    m_fileName[objectNumber - 1] = QFileInfo(path).absoluteFilePath();
    if (objectNumber == 1) {
        m_resultUnsaved = false;
    }
    rememberRecentFile(objectNumber, path);
    showStatus(QStringLiteral("Spremljeno u %1").arg(QDir::toNativeSeparators(path)));
    updateCaption();
    return true;
}

void CSceneView::RunBoolean(int32_t commandId) {
    if (m_scene.m_object1.loaded == 0 || m_scene.m_object2.loaded == 0) {
        return;
    }
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    BusyScope busy(*this);
    const BooleanOp op = commandId == ID_UNION          ? BooleanOp::Union
                         : commandId == ID_INTERSECTION ? BooleanOp::Intersection
                                                        : BooleanOp::Difference;
    const Status s = runWork([&] { return m_scene.BooleanOperation(op); });
    if (stoppedByUser(s)) {
        // Nothing changed: no step of "Ponisti".
        showStatus(QString::fromLatin1(kStoppedMessage));
        requestRedraw();
        return;
    }
    // Even a refused operation has moved object 2 by its offset: one step either way.
    m_undo.push(std::move(before));
    if (!s) {
        queueMessage(QString::fromStdString(s.message()), QStringLiteral("Greska"),
                     Prompts::Icon::Error);
    } else {
        m_fileName[0].clear();
        m_resultUnsaved = true;
    }
    requestRedraw();
}

void CSceneView::restore(SceneSnapshot state) {
    {
        BusyScope busy(*this);
        m_undo.restore(m_scene, state);
        m_fileName[0] = state.fileName[0];
        m_fileName[1] = state.fileName[1];
        m_resultUnsaved = state.resultUnsaved;
        m_object2Home = state.object2Home;
    }
    requestRedraw();
    updateCaption();
}

void CSceneView::OnUndo() {
    endObject2Move(true);
    if (std::optional<SceneSnapshot> state = m_undo.undo(snapshot())) {
        restore(std::move(*state));
        showStatus(QStringLiteral("Ponisteno"));
    }
}

void CSceneView::OnRedo() {
    if (std::optional<SceneSnapshot> state = m_undo.redo(snapshot())) {
        restore(std::move(*state));
        showStatus(QStringLiteral("Ponovljeno"));
    }
}

void CSceneView::OnFitToView() {
    if (fitWholeSceneToView(m_viewState, viewScene())) {
        requestRedraw();
    }
}

void CSceneView::OnStandardView(StandardView which) {
    setStandardView(m_viewState, which);
    // Seen from the new side, the shown objects are framed as "Cijela scena" frames them.
    fitWholeSceneToView(m_viewState, viewScene());
    requestRedraw();
}

void CSceneView::OnGenerator() {
    CGenerator dialog(*m_prompts, window(), m_generatorValues);
    if (m_prompts->runDialog(dialog) != QDialog::Accepted) {
        return;
    }
    m_generatorValues = dialog.values();
    {
        QSettings settings;
        writeGeneratorValues(settings, m_generatorValues);
    }
    const int32_t objectNumber = dialog.m_whichObject;
    if (objectNumber == 1 && !maySafelyDiscardResult()) {
        return;
    }
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    BusyScope busy(*this);
    // Parameters were checked by the dialog; the scene checks again and replaces the target
    // only on success.
    const PrimitiveParameters parameters = dialog.parameters();
    const Status s = runWork([&] { return m_scene.GenerateObject(objectNumber, parameters); });
    if (stoppedByUser(s)) {
        showStatus(QString::fromLatin1(kStoppedMessage));
        return;
    }
    if (s) {
        m_undo.push(std::move(before));
        m_fileName[objectNumber - 1].clear();
        if (objectNumber == 1) {
            m_resultUnsaved = false;
        } else {
            m_object2Home = m_scene.m_object2.centre;
        }
    }
    finishNewObject(objectNumber, s, kNearAfterGenerating,
                    "Generirano tijelo:\n%d tokuta,  %d vrhova");
}

void CSceneView::OnSamplingFactor() {
    CPrikazni dialog(*m_prompts, QStringLiteral("Unesite faktor uzorkovanja"), window(),
                     QString::fromLatin1(kSamplingFactorLabel));
    dialog.m_value = m_scene.m_samplingFactor;
    dialog.exchangeToControls();
    if (m_prompts->runDialog(dialog) == QDialog::Accepted) {
        m_scene.m_samplingFactor = dialog.m_value;
        QSettings settings;
        writeSamplingFactor(settings, m_scene.m_samplingFactor);
    }
}

RgbImage CSceneView::grabPicture() {
    m_drawWhileBusy = true;
    const QImage frame = grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    m_drawWhileBusy = false;
    RgbImage picture;
    if (frame.isNull()) {
        return picture;
    }
    picture.width = frame.width();
    picture.height = frame.height();
    const size_t row = static_cast<size_t>(picture.width) * 3;
    picture.pixels.resize(row * static_cast<size_t>(picture.height));
    for (int y = 0; y < frame.height(); ++y) {
        std::memcpy(picture.pixels.data() + row * static_cast<size_t>(y), frame.constScanLine(y),
                    row);
    }
    return picture;
}

RgbImage CSceneView::readDrawnPicture() {
    RgbImage picture;
    if (m_glReady == 0) {
        return picture;
    }
    makeCurrent();
    const QSize size = this->size() * devicePixelRatio();
    context()->functions()->glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    // An empty picture where it cannot be read, as before the view is ready.
    (void)readPicture(size.width(), size.height(), picture);
    return picture;
}

void CSceneView::OnSaveViewImage() {
    const QDir folder(m_currentFolder);
    // The next free number: earlier pictures are kept.
    int32_t number = 0;
    while (number < 999999 &&
           QFileInfo::exists(folder.filePath(QString::asprintf("screen%04d.bmp", number)))) {
        ++number;
    }
    const std::string base =
        QFile::encodeName(folder.filePath(QStringLiteral("screen"))).toStdString();
    const Status s = SaveViewImage(grabPicture(), number, base, "bmp");
    if (!s) {
        m_prompts->message(window(), QString::fromStdString(s.message()), {}, Prompts::Icon::Error);
        return;
    }
    showStatus(QStringLiteral("Slika prikaza spremljena u %1")
                   .arg(QDir::toNativeSeparators(
                       folder.filePath(QString::asprintf("screen%04d.bmp", number)))));
}

void CSceneView::OnObjectInfo() {
    CinfoDisplay dialog(window());
    dialog.m_text = objectInfoText(m_scene.m_object1, m_scene.m_object2);
    dialog.exchangeToControls();
    m_prompts->runDialog(dialog);
}

}  // namespace korvan::app
