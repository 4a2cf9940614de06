// The commands handled by the scene view.
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <cstring>

#include "app/generator_dialog.h"
#include "app/info_display.h"
#include "app/prikazni.h"
#include "app/scene_view.h"
#include "geometry/statistics.h"
#include "image/image.h"
#include "meshio/obj.h"

namespace korvan::app {
namespace {

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
            m_redraw = 1;
            return true;
        case ID_OBJECT_INFO:
            OnObjectInfo();
            return true;
        case ID_MOVE_OBJECT2:
        case ID_ROTATE_OBJECT2: {
            const QPoint p = mapFromGlobal(QCursor::pos());
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
    const bool loaded1 = m_scene.m_object1.loaded != 0;
    const bool loaded2 = m_scene.m_object2.loaded != 0;
    switch (id) {
        case ID_SAVE_OBJECT1:
            state.enabled = loaded1;
            return true;
        case ID_SAVE_OBJECT2:
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
        default:
            return false;
    }
}

void CSceneView::rememberFolderOf(const QString& path) {
    m_currentFolder = QFileInfo(path).absolutePath();
}

void CSceneView::LoadObject(int32_t objectNumber) {
    const QString path = m_prompts->openFileName(this, m_currentFolder, objFileFilter());
    if (path.isEmpty()) {
        return;
    }
    rememberFolderOf(path);
    BusyScope busy(*this);
    const Status s = m_scene.LoadObject(objectNumber, QFile::encodeName(path).toStdString());
    finishNewObject(objectNumber, s, kNearAfterReading,
                    "Procitano i uzorkovano tijelo:\n%d tokuta,  %d vrhova");
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
        placeCameraForObject(m_viewState, target, nearPlane);
    }
    m_redraw = 1;
    queueMessage(countsReport(report, target), {}, Prompts::Icon::None);
}

void CSceneView::SaveObject(int32_t objectNumber) {
    const Solid& solid = objectNumber == 1 ? m_scene.m_object1 : m_scene.m_object2;
    if (solid.loaded == 0) {
        return;
    }
    const QString path =
        m_prompts->saveFileName(this, m_currentFolder, objFileFilter(), QStringLiteral("OBJ"));
    if (path.isEmpty()) {
        return;
    }
    rememberFolderOf(path);
    // An existing file is replaced only by a complete new one.
    const Status s = writeObj(solid, QFile::encodeName(path).toStdString());
    if (!s) {
        m_prompts->message(window(), QString::fromStdString(s.message()), {}, Prompts::Icon::Error);
    }
}

void CSceneView::RunBoolean(int32_t commandId) {
    if (m_scene.m_object1.loaded == 0 || m_scene.m_object2.loaded == 0) {
        return;
    }
    BusyScope busy(*this);
    const BooleanOp op = commandId == ID_UNION          ? BooleanOp::Union
                         : commandId == ID_INTERSECTION ? BooleanOp::Intersection
                                                        : BooleanOp::Difference;
    const Status s = m_scene.BooleanOperation(op);
    if (!s) {
        queueMessage(QString::fromStdString(s.message()), QStringLiteral("Greska"),
                     Prompts::Icon::Error);
    }
    m_redraw = 1;
}

void CSceneView::OnGenerator() {
    CGenerator dialog(*m_prompts, window());
    if (m_prompts->runDialog(dialog) != QDialog::Accepted) {
        return;
    }
    const int32_t objectNumber = dialog.m_whichObject;
    BusyScope busy(*this);
    // Parameters were checked by the dialog; the scene checks again and replaces the target
    // only on success.
    const Status s = m_scene.GenerateObject(objectNumber, dialog.parameters());
    finishNewObject(objectNumber, s, kNearAfterGenerating,
                    "Generirano tijelo:\n%d tokuta,  %d vrhova");
}

void CSceneView::OnSamplingFactor() {
    CPrikazni dialog(*m_prompts, QStringLiteral("Unesite faktor uzorkovanja"), window());
    dialog.m_value = m_scene.m_samplingFactor;
    dialog.exchangeToControls();
    if (m_prompts->runDialog(dialog) == QDialog::Accepted) {
        m_scene.m_samplingFactor = dialog.m_value;
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

void CSceneView::OnSaveViewImage() {
    const std::string base =
        QFile::encodeName(QDir(m_currentFolder).filePath(QStringLiteral("screen"))).toStdString();
    const Status s = SaveViewImage(grabPicture(), 0, base, "bmp");
    if (!s) {
        m_prompts->message(window(), QString::fromStdString(s.message()), {}, Prompts::Icon::Error);
    }
}

void CSceneView::OnObjectInfo() {
    CinfoDisplay dialog(window());
    dialog.m_text = QString::fromStdString(objectStatistics(m_scene.m_object1, m_scene.m_object2));
    dialog.exchangeToControls();
    m_prompts->runDialog(dialog);
}

}  // namespace korvan::app
