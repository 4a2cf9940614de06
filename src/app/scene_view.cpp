#include "app/scene_view.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include "app/info_view.h"

namespace korvan::app {

CSceneView::CSceneView(QWidget* parent)
    : QOpenGLWidget(parent), m_scene(this), m_prompts(std::make_unique<Prompts>()) {
    setObjectName(QStringLiteral("CSceneView"));
    setFocusPolicy(Qt::StrongFocus);
    // Modes 2 and 3 follow plain mouse movement, without a button held.
    setMouseTracking(true);
    setMinimumSize(1, 1);
    m_popup = std::make_unique<QMenu>();
    for (const MenuItem& item : popupMenuLayout()) {
        if (item.id == ID_NONE) {
            m_popup->addSeparator();
            continue;
        }
        QAction* action = m_popup->addAction(QString::fromLatin1(item.text));
        action->setData(item.id);
    }
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_timer.start(5);
}

CSceneView::~CSceneView() {
    m_timer.stop();
    // The base class destroys the context later; by then this part of the object is gone.
    disconnect(m_contextConnection);
    releaseGL();
}

void CSceneView::releaseGL() {
    if (m_glReady == 0 || context() == nullptr) {
        return;
    }
    makeCurrent();
    m_renderer.releaseLists();
    doneCurrent();
    m_glReady = 0;
}

// --- OpenGL -----------------------------------------------------------------------------

void CSceneView::initializeGL() {
    QOpenGLContext* ctx = context();
    if (ctx == nullptr || !ctx->isValid()) {
        m_prompts->message(this, QStringLiteral("Couldn't create an OpenGL context."), {},
                           Prompts::Icon::Error);
        return;
    }
    if (ctx->format().profile() == QSurfaceFormat::CoreProfile) {
        m_prompts->message(this, QStringLiteral("OpenGL compatibility profile not available."), {},
                           Prompts::Icon::Error);
        return;
    }
    disconnect(m_contextConnection);
    m_contextConnection =
        connect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, [this] { releaseGL(); });
    setupFixedState();
    m_glReady = 1;
}

void CSceneView::resizeGL(int w, int h) {
    const qreal ratio = devicePixelRatioF();
    setViewportSize(m_viewState, static_cast<int32_t>(w * ratio), static_cast<int32_t>(h * ratio));
    if (m_glReady != 0 && !applyViewport(m_viewState)) {
        m_prompts->message(this, QStringLiteral("Error while trying to set viewport."), {},
                           Prompts::Icon::Error);
    }
    m_redraw = 1;
}

void CSceneView::paintGL() {
    // Mid-operation the meshes may be half built; the last picture stays.
    if (m_glReady == 0 || (busy() && !m_drawWhileBusy)) {
        return;
    }
    // The compositor shares nothing with this context, but the state is cheap to restate.
    setupFixedState();
    applyViewport(m_viewState);
    m_renderer.drawScene(m_scene, m_viewState);
    if (const auto rate = m_frameRate.frameDrawn()) {
        if (QWidget* frame = window(); frame != nullptr && frame != this) {
            frame->setWindowTitle(QStringLiteral("Korvan") +
                                  QString::asprintf("           FPS: %5.2lf", *rate));
        }
    }
}

void CSceneView::drawFrameNow() {
    m_drawWhileBusy = true;
    repaint();
    m_drawWhileBusy = false;
}

void CSceneView::OnTimer() {
    if (busy()) {
        return;
    }
    if (runKeyActions(m_keys, m_viewState, m_scene)) {
        m_redraw = 1;
    }
    if (m_redraw != 0) {
        update();
        if (m_scene.m_animationRunning) {
            m_redraw = 0;
        }
    }
}

// --- Input ------------------------------------------------------------------------------

int32_t virtualKeyOf(int key, Qt::KeyboardModifiers modifiers) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return key;  // 65..90, as the virtual-key codes
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return (modifiers & Qt::KeypadModifier) ? -1 : key;  // 48..57
    }
    switch (key) {
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        default:
            return -1;
    }
}

void CSceneView::keyPressEvent(QKeyEvent* event) {
    const int32_t code = virtualKeyOf(event->key(), event->modifiers());
    if (code < 0) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    m_keys.press(code);
}

void CSceneView::keyReleaseEvent(QKeyEvent* event) {
    // An auto-repeat arrives as release + press; only the real release clears the key.
    if (event->isAutoRepeat()) {
        return;
    }
    const int32_t code = virtualKeyOf(event->key(), event->modifiers());
    if (code < 0) {
        QOpenGLWidget::keyReleaseEvent(event);
        return;
    }
    m_keys.release(code);
}

void CSceneView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        onLeftButtonDown(m_viewState, p.x(), p.y());
    } else if (event->button() == Qt::RightButton) {
        if (onRightButtonDown(m_viewState, p.x(), p.y())) {
            openPopupMenu(event->globalPosition().toPoint());
        }
    }
}

void CSceneView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        onLeftButtonUp(m_viewState);
    }
}

void CSceneView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (onMouseMove(m_viewState, m_scene, p.x(), p.y(),
                    (event->modifiers() & Qt::ShiftModifier) != 0)) {
        m_redraw = 1;
    }
}

void CSceneView::wheelEvent(QWheelEvent* event) {
    applyWheel(m_viewState, event->angleDelta().y());
    m_redraw = 1;
    event->accept();
}

void CSceneView::openPopupMenu(const QPoint& globalPos) {
    // The popup's items are never greyed: the handlers check the loaded flags themselves.
    QAction* chosen = m_popup->exec(globalPos);
    if (chosen != nullptr) {
        OnCommand(commandIdOf(chosen));
    }
}

// --- Busy state and progress --------------------------------------------------------------

CSceneView::BusyScope::BusyScope(CSceneView& view) : m_view(view) {
    if (m_view.m_busy++ == 0) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
}

CSceneView::BusyScope::~BusyScope() {
    if (--m_view.m_busy == 0) {
        QApplication::restoreOverrideCursor();
        m_view.m_redraw = 1;
        m_view.update();
        m_view.showPendingMessages();
        if (m_view.m_onIdle) {
            m_view.m_onIdle();
        }
    }
}

void CSceneView::ShowProgressPopup(const std::string& text) {
    m_progress = std::make_unique<CInfoView>(this);
    m_progress->showCentred(QString::fromStdString(text));
}

void CSceneView::SetProgressText(const std::string& text) {
    if (m_progress) {
        m_progress->SetProgressText(QString::fromStdString(text));
    }
}

void CSceneView::CloseProgressPopup() {
    m_progress.reset();
}

void CSceneView::ShowMessage(const std::string& text) {
    queueMessage(QString::fromStdString(text), {}, Prompts::Icon::None);
}

void CSceneView::queueMessage(const QString& text, const QString& caption, Prompts::Icon icon) {
    if (!busy()) {
        m_prompts->message(window(), text, caption, icon);
        return;
    }
    m_pendingMessages.push_back({text, caption, icon});
}

void CSceneView::showPendingMessages() {
    std::vector<PendingMessage> messages;
    messages.swap(m_pendingMessages);
    for (const PendingMessage& m : messages) {
        m_prompts->message(window(), m.text, m.caption, m.icon);
    }
}

}  // namespace korvan::app
