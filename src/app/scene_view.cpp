#include "app/scene_view.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QUrl>
#include <QWheelEvent>

#include <QEventLoop>
#include <QThread>

#include <chrono>
#include <thread>

namespace korvan::app {

CSceneView::CSceneView(QWidget* parent)
    : QOpenGLWidget(parent), m_scene(this), m_prompts(std::make_unique<Prompts>()) {
    setObjectName(QStringLiteral("CSceneView"));
    setFocusPolicy(Qt::StrongFocus);
    // Modes 2 and 3 follow plain mouse movement, without a button held.
    setMouseTracking(true);
    setMinimumSize(1, 1);
    setAcceptDrops(true);
    m_popup = std::make_unique<QMenu>();
    for (const MenuItem& item : popupMenuLayout()) {
        if (item.id == ID_NONE) {
            m_popup->addSeparator();
            continue;
        }
        QAction* action = m_popup->addAction(QString::fromLatin1(item.text));
        action->setData(item.id);
    }
    // Nothing draws on a clock: input, operations and resizes ask for a picture when they
    // change one, so an idle window costs nothing.
}

CSceneView::~CSceneView() {
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

void CSceneView::requestRedraw() {
    m_redraw = 1;
    update();
}

void CSceneView::paintGL() {
    // Mid-operation on this thread the meshes may be half built; the last picture stays. An
    // operation on its own thread leaves a copy to draw.
    if (m_glReady == 0 || (busy() && !m_drawWhileBusy && !m_working)) {
        return;
    }
    // The compositor shares nothing with this context, but the state is cheap to restate.
    const auto start = std::chrono::steady_clock::now();
    setupFixedState();
    applyViewport(m_viewState);
    m_renderer.drawScene(m_frameScene != nullptr ? *m_frameScene : viewScene(), m_viewState);
    // Drawn only on change, so the rate is that of this drawing, finished.
    context()->functions()->glFinish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m_lastFrameRate = seconds > 0.0 ? 1.0 / seconds : 0.0;
    m_redraw = 0;
    ++m_framesDrawn;
    if (!m_working) {
        updateCaption();  // it reads the scene the operation is changing
    }
}

void CSceneView::updateCaption() {
    QWidget* frame = window();
    if (frame == nullptr || frame == this) {
        return;
    }
    QStringList names;
    for (int32_t n : {1, 2}) {
        const Solid& solid = n == 1 ? m_scene.m_object1 : m_scene.m_object2;
        if (solid.loaded == 0) {
            continue;
        }
        const QString& file = fileName(n);
        const QString name = !file.isEmpty()               ? QFileInfo(file).fileName()
                             : (n == 1 && m_resultUnsaved) ? QStringLiteral("rezultat")
                                                           : QStringLiteral("generirano");
        // "[*]" in a name is Qt's mark unless doubled.
        QString entry =
            QStringLiteral("objekt%1: %2")
                .arg(n)
                .arg(QString(name).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
        if (n == 1) {
            entry += QStringLiteral("[*]");  // the unsaved result is object 1's
        }
        names << entry;
    }
    // Qt adds the program's name after the title; "[*]" shows as "*" for an unsaved result.
    const QString rate =
        m_lastFrameRate > 0.0 ? QString::asprintf("FPS: %5.2lf", m_lastFrameRate) : QString();
    const bool marked = m_scene.m_object1.loaded != 0;
    const QString title = names.isEmpty() ? rate + QStringLiteral("[*]")
                                          : names.join(QStringLiteral(", ")) +
                                                (marked ? QStringLiteral("           ")
                                                        : QStringLiteral("[*]           ")) +
                                                rate;
    frame->setWindowTitle(title.trimmed());
    frame->setWindowModified(m_resultUnsaved);
}

void CSceneView::showStatus(const QString& text) {
    if (m_onStatus) {
        m_onStatus(text);
    }
}

void CSceneView::drawFrameNow() {
    m_drawWhileBusy = true;
    repaint();
    m_drawWhileBusy = false;
}

void CSceneView::OnTimer() {
    // While an operation runs on its thread the view still turns; whatever the keys do to the
    // copy it draws is dropped with the copy.
    if (busy() && !m_working) {
        return;
    }
    if (!m_working && m_keys.m_keyDown[kVkY] == 1 && m_scene.m_object2Offset != Vector4()) {
        endObject2Move(true);
        m_undo.push(snapshot());  // Y drops a placement: one step of "Ponisti"
    }
    if (runKeyActions(m_keys, m_viewState, viewScene())) {
        m_redraw = 1;
    }
    if (m_redraw != 0) {
        update();
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
    // Keys with Ctrl or Alt are the menus' shortcuts, not the view's keys.
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    if (m_working && event->key() == Qt::Key_Escape) {
        requestStop();
        return;
    }
    const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
    if (event->key() == Qt::Key_Home) {
        OnFitToView();
        return;
    }
    if (keypad && !event->isAutoRepeat()) {
        // The keypad's digits choose the standard views, as in other 3-D programs.
        switch (event->key()) {
            case Qt::Key_1:
                OnStandardView(StandardView::Front);
                return;
            case Qt::Key_7:
                OnStandardView(StandardView::Top);
                return;
            case Qt::Key_3:
                OnStandardView(StandardView::Side);
                return;
            case Qt::Key_9:
                OnStandardView(StandardView::Iso);
                return;
            default:
                break;
        }
    }
    const int32_t code = virtualKeyOf(event->key(), event->modifiers());
    if (code < 0) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    // Held down, a switch must not flip back and forth; Page Up and Down keep stepping.
    if (event->isAutoRepeat() && isToggleKey(code)) {
        return;
    }
    // Acted on at once: a tap shorter than a frame still counts, and only once.
    m_keys.press(code);
    OnTimer();
}

void CSceneView::keyReleaseEvent(QKeyEvent* event) {
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
    // The middle button pans in any mode; Shift with the left button where it would turn the
    // scene (in the modes that move object 2, Shift already means depth).
    const bool panButton =
        event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier) != 0 &&
         m_viewState.m_mouseMode == kMouseIdle);
    if (panButton) {
        if (m_panButton == Qt::NoButton) {
            m_panButton = event->button();
            m_panLast = event->position();
        }
        return;
    }
    if (event->button() == Qt::LeftButton) {
        onLeftButtonDown(m_viewState, p.x(), p.y());
    } else if (event->button() == Qt::RightButton) {
        const bool opensMenu = onRightButtonDown(m_viewState, p.x(), p.y());
        endObject2Move();
        if (opensMenu) {
            openPopupMenu(event->globalPosition().toPoint());
        }
    }
}

void CSceneView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_panButton != Qt::NoButton && event->button() == m_panButton) {
        m_panButton = Qt::NoButton;
        // A mode that moves object 2 goes on from here, not from where the pan began.
        const QPoint p = event->position().toPoint();
        m_viewState.m_lastMouse = {p.x(), p.y()};
        return;
    }
    if (event->button() == Qt::LeftButton) {
        onLeftButtonUp(m_viewState);
        endObject2Move();
    }
}

void CSceneView::beginObject2Move() {
    m_moveStart = snapshot();
}

void CSceneView::endObject2Move(bool evenInTheMode) {
    const bool moving = m_viewState.m_mouseMode == kMouseMoveObject2 ||
                        m_viewState.m_mouseMode == kMouseRotateObject2;
    if (!m_moveStart || (moving && !evenInTheMode)) {
        return;
    }
    // A move that changed the placement is one step of "Ponisti".
    if (m_moveStart->object2Offset != m_scene.m_object2Offset ||
        m_moveStart->object2Rotation != m_scene.m_object2Rotation) {
        m_undo.push(std::move(*m_moveStart));
    }
    m_moveStart.reset();
}

void CSceneView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (m_panButton != Qt::NoButton) {
        // The view only: nothing of the scene changes, so also while an operation runs.
        const QPointF moved = (event->position() - m_panLast) * devicePixelRatioF();
        m_panLast = event->position();
        panView(m_viewState, moved.x(), moved.y());
        requestRedraw();
        return;
    }
    if (m_working && (m_viewState.m_mouseMode == kMouseMoveObject2 ||
                      m_viewState.m_mouseMode == kMouseRotateObject2)) {
        return;  // object 2 stays where the operation took it from
    }
    if (!m_moveStart && (m_viewState.m_mouseMode == kMouseMoveObject2 ||
                         m_viewState.m_mouseMode == kMouseRotateObject2)) {
        beginObject2Move();  // again after an operation ended the previous step mid-mode
    }
    if (onMouseMove(m_viewState, viewScene(), p.x(), p.y(),
                    (event->modifiers() & Qt::ShiftModifier) != 0)) {
        requestRedraw();
    }
}

void CSceneView::wheelEvent(QWheelEvent* event) {
    // Touchpads send small deltas: they add up to whole steps.
    applyWheelDelta(m_viewState, viewScene(), event->angleDelta().y());
    requestRedraw();
    event->accept();
}

namespace {

QStringList droppedObjFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files << url.toLocalFile();
        }
    }
    return files;
}

}  // namespace

void CSceneView::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy() && !droppedObjFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CSceneView::dropEvent(QDropEvent* event) {
    const QStringList files = droppedObjFiles(event->mimeData());
    if (busy() || files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // Two files: object 1 and object 2; one file: the half of the view it was dropped on.
    const int32_t first = files.size() > 1 || event->position().x() < width() / 2.0 ? 1 : 2;
    const QString path1 = files[0];
    const QString path2 = files.size() > 1 ? files[1] : QString();
    // Not inside the drag source's event: the load may ask questions and show messages.
    QMetaObject::invokeMethod(
        this,
        [this, first, path1, path2] {
            if (OpenFile(first, path1) && !path2.isEmpty()) {
                OpenFile(2, path2);
            }
        },
        Qt::QueuedConnection);
}

void CSceneView::openPopupMenu(const QPoint& globalPos) {
    if (busy()) {
        return;
    }
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
        // The popup's place is drawn anew before any message covers the window.
        if (m_view.isVisible()) {
            m_view.repaint();
        } else {
            m_view.update();
        }
        m_view.updateCaption();
        m_view.showPendingMessages();
        // Once the messages are gone, the window shows the scene drawn after all of it.
        m_view.update();
        if (m_view.m_onIdle) {
            m_view.m_onIdle();
        }
    }
}

// --- Work off the window's thread ---------------------------------------------------------

namespace {

// The objects and object 2's placement, for the window to draw while the scene changes.
void copyForDrawing(const Scene& from, Scene& to) {
    for (int32_t n : {1, 2}) {
        const Solid& source = n == 1 ? from.m_object1 : from.m_object2;
        Solid& copy = n == 1 ? to.m_object1 : to.m_object2;
        copy.copyMeshFrom(source);
        copy.wireframe = source.wireframe;
    }
    to.m_object2Offset = from.m_object2Offset;
    to.m_object2Rotation = from.m_object2Rotation;
    to.m_keepCoordinates = from.m_keepCoordinates;
}

}  // namespace

Status CSceneView::runWork(const std::function<Status()>& work) {
    if (!m_shown) {
        m_shown = std::make_unique<Scene>();
    }
    try {
        copyForDrawing(m_scene, *m_shown);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    m_stopRequested = false;
    m_work.start(QString());
    m_progress = std::make_unique<CProgressPopup>(this, m_work, [this] { requestStop(); });
    m_working = true;
    m_progress->showCentred();
    Status status;
    QEventLoop loop;
    std::chrono::steady_clock::time_point ended;
    std::thread worker([&] {
        try {
            status = work();
        } catch (const std::bad_alloc&) {
            status = Status::failure(kOutOfMemoryMessage);
        }
        ended = std::chrono::steady_clock::now();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Menus open (their commands disabled), the window repaints and the view turns meanwhile.
    loop.exec();
    worker.join();
    m_working = false;
    if (m_stopRequested) {
        m_lastStopSeconds = std::chrono::duration<double>(ended - m_stopAsked).count();
    }
    m_stopRequested = false;
    m_progress->hide();
    m_progress.reset();
    m_shown->m_object1.clear();
    m_shown->m_object2.clear();
    m_redraw = 1;
    update();
    return status;
}

void CSceneView::requestStop() {
    if (!m_working || m_stopRequested) {
        return;
    }
    m_stopAsked = std::chrono::steady_clock::now();
    m_stopRequested = true;
    if (m_progress) {
        m_progress->stopping();
    }
}

RgbImage CSceneView::drawAnimationFrame(const Scene& scene, int32_t number, int32_t count) {
    // The user sees how far the run is and how to stop it.
    showStatus(
        QStringLiteral("Slika %1/%2 - tipka Esc prekida animaciju").arg(number + 1).arg(count));
    m_work.setRun(number + 1, count);
    m_frameScene = &scene;
    drawFrameNow();
    RgbImage picture = readDrawnPicture();
    m_frameScene = nullptr;
    try {
        copyForDrawing(scene, *m_shown);  // shown until the next frame
    } catch (const std::bad_alloc&) {
        m_shown->m_object1.clear();
        m_shown->m_object2.clear();
    }
    return picture;
}

// Called on the operation's thread: the popup's timer shows what is written here.
void CSceneView::ShowProgressPopup(const std::string& text) {
    m_work.setText(QString::fromStdString(text));
}

void CSceneView::SetProgressText(const std::string& text) {
    m_work.setText(QString::fromStdString(text));
}

void CSceneView::SetProgressShare(double share) {
    m_work.setShare(share);
}

void CSceneView::CountProgress(double upTo, const std::atomic<int64_t>* done, int64_t items) {
    m_work.countTowards(upTo, done, items);
}

void CSceneView::ShowMessage(const std::string& text) {
    if (QThread::currentThread() == thread()) {
        queueMessage(QString::fromStdString(text), {}, Prompts::Icon::None);
        return;
    }
    const std::lock_guard lock(m_messageMutex);
    m_pendingMessages.push_back({QString::fromStdString(text), {}, Prompts::Icon::None});
}

void CSceneView::queueMessage(const QString& text, const QString& caption, Prompts::Icon icon) {
    if (!busy()) {
        m_prompts->message(window(), text, caption, icon);
        return;
    }
    const std::lock_guard lock(m_messageMutex);
    m_pendingMessages.push_back({text, caption, icon});
}

void CSceneView::showPendingMessages() {
    std::vector<PendingMessage> messages;
    {
        const std::lock_guard lock(m_messageMutex);
        messages.swap(m_pendingMessages);
    }
    for (const PendingMessage& m : messages) {
        m_prompts->message(window(), m.text, m.caption, m.icon);
    }
}

}  // namespace korvan::app
