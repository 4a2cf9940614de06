#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include "app/app_settings.h"
#include "app/lock_keys.h"
#include "app/main_app.h"
#include "app/toolbar_icons.h"

namespace korvan::app {
namespace {

constexpr int32_t kCellCommands[] = {ID_CELLS_INNER, ID_CELLS_OUTER, ID_CELLS_BOUNDARY,
                                     ID_CELLS_UNSORTED, ID_CELLS_ALL};

QString promptOf(const CommandInfo* info) {
    if (info == nullptr) {
        return {};
    }
    return QString::fromLatin1(info->prompt).section(QLatin1Char('\n'), 0, 0);
}

// The tooltip after the prompt's "\n", or else the item's text without its key hint.
QString tooltipOf(const CommandInfo* info, const QString& text) {
    if (info != nullptr) {
        const QString prompt = QString::fromLatin1(info->prompt);
        if (prompt.contains(QLatin1Char('\n'))) {
            return prompt.section(QLatin1Char('\n'), 1);
        }
        if (!prompt.isEmpty()) {
            return prompt;
        }
    }
    QString plain = text.section(QLatin1Char('\t'), 0, 0);
    plain.remove(QLatin1Char('&'));
    return plain;
}

}  // namespace

CMainFrame::CMainFrame() {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Korvan"));
    setWindowIcon(programIcon());
    setCentralWidget(&m_view);
    // What the last run left; with nothing stored, everything is as in a new window.
    const StoredSettings stored = readSettings(QSettings());
    m_view.scene().m_closedResult = stored.closedResult;
    m_view.scene().m_keepCoordinates = stored.keepCoordinates;
    m_view.scene().m_samplingFactor = stored.samplingFactor;
    m_view.setGeneratorValues(stored.generator);
    m_view.setCurrentFolder(stored.folder);
    buildCommandUi();

    m_statusBar = statusBar();
    m_statusBar->setObjectName(QStringLiteral("59393"));
    auto* fixedPane = new QLabel(QStringLiteral("Booleove operacije nad tijelima"), m_statusBar);
    m_statusBar->addPermanentWidget(fixedPane);
    for (QLabel* pane : {&m_capsPane, &m_numPane, &m_scrollPane}) {
        pane->setParent(m_statusBar);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(40);
        pane->setFrameShape(QFrame::StyledPanel);
        m_statusBar->addPermanentWidget(pane);
    }
    m_capsPane.setText(QStringLiteral("CAP"));
    m_numPane.setText(QStringLiteral("NUM"));
    m_scrollPane.setText(QStringLiteral("SCRL"));
    m_statusBar->showMessage(QStringLiteral("Spremno"));
    connect(m_statusBar, &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            m_statusBar->showMessage(QStringLiteral("Spremno"));
        }
    });

    m_view.setStatusHandler([this](const QString& text) { m_statusBar->showMessage(text); });
    m_view.setRecentFilesHandler([this] { rebuildRecentMenus(); });
    m_view.setRecentFiles(1, stored.recentFiles[0]);
    m_view.setRecentFiles(2, stored.recentFiles[1]);

    m_view.setIdleHandler([this] {
        // The commands disabled while the operation ran are offered again at once, not at
        // the idle timer's next tick.
        updateCommandStates();
        // Closing waits for the operation; it happens once the handler has returned.
        if (m_closePending) {
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
    });

    // The toolbar follows the enable rules while the program is idle.
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        updateCommandStates();
        updateLockIndicators();
    });
    m_idleTimer.start(150);
    updateCommandStates();
    updateLockIndicators();
    // A fixed size, so that pictures of the window are reproducible, unless the last run
    // left another.
    resize(1024, 768);
    if (!stored.windowGeometry.isEmpty()) {
        restoreGeometry(stored.windowGeometry);
    }
    m_view.setFocus();
}

CMainFrame::~CMainFrame() {
    m_idleTimer.stop();
}

QAction* CMainFrame::makeAction(const MenuItem& item, bool forToolbar) {
    const CommandInfo* info = findCommand(item.id);
    auto* action = new QAction(QString::fromLatin1(item.text), this);
    action->setData(item.id);
    action->setObjectName(QString::number(item.id));
    action->setStatusTip(promptOf(info));
    action->setToolTip(tooltipOf(info, QString::fromLatin1(item.text)));
    // The "\t&1" hints are text only: the digit keys belong to the view. Only the menu's
    // copy of a command carries its Ctrl shortcut, so that no key is bound twice.
    if (!forToolbar && info != nullptr && info->shortcut != nullptr) {
        action->setShortcut(QKeySequence(QString::fromLatin1(info->shortcut)));
        action->setShortcutContext(Qt::WindowShortcut);
    } else {
        action->setShortcut(QKeySequence());
        action->setShortcutContext(Qt::WidgetShortcut);
    }
    if (info != nullptr && info->checkable) {
        action->setCheckable(true);
    }
    if (forToolbar) {
        action->setIcon(toolbarIcon(item.id));
    }
    connect(action, &QAction::triggered, this, [this, id = item.id] {
        OnCmdMsg(id);
        updateCommandStates();
    });
    return action;
}

void CMainFrame::buildCommandUi() {
    for (const MenuDefinition& definition : menuBarLayout()) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(definition.title));
        menu->setToolTipsVisible(false);
        for (const MenuItem& item : definition.items) {
            if (item.id == ID_NONE) {
                menu->addSeparator();
                continue;
            }
            QAction* action = makeAction(item, false);
            menu->addAction(action);
            m_menuActions.push_back(action);
        }
        // Menus show the current enable and check state when they open.
        connect(menu, &QMenu::aboutToShow, this, [this] { updateCommandStates(); });
        if (definition.items.data() == menuBarLayout().front().items.data()) {
            // The recent files, above "Izlaz".
            QAction* exitSeparator = menu->actions().at(menu->actions().size() - 2);
            m_recent[0] = new QMenu(QStringLiteral("Nedavne datoteke u objekt1"), menu);
            m_recent[1] = new QMenu(QStringLiteral("Nedavne datoteke u objekt2"), menu);
            m_recent[0]->setObjectName(QStringLiteral("recent1"));
            m_recent[1]->setObjectName(QStringLiteral("recent2"));
            menu->insertSeparator(exitSeparator);
            menu->insertMenu(exitSeparator, m_recent[0]);
            menu->insertMenu(exitSeparator, m_recent[1]);
        }
    }

    m_toolBar = addToolBar(QStringLiteral("Alatna traka"));
    m_toolBar->setObjectName(QStringLiteral("59392"));
    m_toolBar->setIconSize(QSize(22, 22));
    m_toolBar->setMovable(true);
    for (int32_t id : toolbarLayout()) {
        if (id == ID_NONE) {
            m_toolBar->addSeparator();
            continue;
        }
        const MenuItem* item = nullptr;
        for (const MenuDefinition& definition : menuBarLayout()) {
            for (const MenuItem& candidate : definition.items) {
                if (candidate.id == id) {
                    item = &candidate;
                }
            }
        }
        if (item == nullptr) {
            continue;
        }
        QAction* action = makeAction(*item, true);
        m_toolBar->addAction(action);
        m_toolbarActions.push_back(action);
    }

    menuAction(ID_EDGE_SAMPLING)->setChecked(m_view.scene().m_edgeSampling != 0);
    menuAction(ID_CLOSED_RESULT)->setChecked(m_view.scene().m_closedResult);
    menuAction(ID_KEEP_COORDINATES)->setChecked(m_view.scene().m_keepCoordinates);
}

QAction* CMainFrame::menuAction(int32_t id) const {
    for (QAction* a : m_menuActions) {
        if (commandIdOf(a) == id) {
            return a;
        }
    }
    return nullptr;
}

QAction* CMainFrame::toolbarAction(int32_t id) const {
    for (QAction* a : m_toolbarActions) {
        if (commandIdOf(a) == id) {
            return a;
        }
    }
    return nullptr;
}

bool CMainFrame::OnCmdMsg(int32_t id) {
    // One operation at a time: nothing starts while another runs.
    if (m_view.busy()) {
        return true;
    }
    if (m_view.OnCommand(id) || OnFrameCommand(id)) {
        return true;
    }
    auto* app = dynamic_cast<CMainApp*>(QCoreApplication::instance());
    return app != nullptr && app->OnCommand(id);
}

void CMainFrame::updateCommandStates() {
    auto* app = dynamic_cast<CMainApp*>(QCoreApplication::instance());
    for (auto* list : {&m_menuActions, &m_toolbarActions}) {
        for (QAction* action : *list) {
            const int32_t id = commandIdOf(action);
            CommandState state;
            const bool known = m_view.OnUpdateCommand(id, state) ||
                               OnUpdateFrameCommand(id, state) ||
                               (app != nullptr && app->OnUpdateCommand(id, state));
            if (!known) {
                // No rule of its own: enabled unless an operation runs (OnCmdMsg refuses
                // every command meanwhile; the menus still open and show it).
                action->setEnabled(!m_view.busy());
                continue;
            }
            action->setEnabled(state.enabled && !m_view.busy());
            if (state.checked >= 0) {
                action->setChecked(state.checked != 0);
            }
        }
    }
}

bool CMainFrame::OnFrameCommand(int32_t id) {
    switch (id) {
        case ID_CELLS_INNER:
            setCellDisplayMode(1, id);
            return true;
        case ID_CELLS_OUTER:
            setCellDisplayMode(2, id);
            return true;
        case ID_CELLS_BOUNDARY:
            setCellDisplayMode(3, id);
            return true;
        case ID_CELLS_UNSORTED:
            setCellDisplayMode(4, id);
            return true;
        case ID_CELLS_ALL:
            setCellDisplayMode(5, id);
            return true;
        case ID_CELLS_NONE:
            setCellDisplayMode(0, ID_NONE);
            return true;
        case ID_EDGE_SAMPLING: {
            int32_t& flag = m_view.scene().m_edgeSampling;
            menuAction(ID_EDGE_SAMPLING)->setChecked(flag == 0);
            flag = flag == 0 ? 1 : 0;
            return true;
        }
        case ID_CLOSED_RESULT: {
            bool& closed = m_view.scene().m_closedResult;
            closed = !closed;
            menuAction(ID_CLOSED_RESULT)->setChecked(closed);
            QSettings settings;
            writeCheckItems(settings, closed, m_view.scene().m_keepCoordinates);
            return true;
        }
        case ID_KEEP_COORDINATES: {
            // Applies to the next file read; what is in the scene stays as it was read.
            bool& keep = m_view.scene().m_keepCoordinates;
            keep = !keep;
            menuAction(ID_KEEP_COORDINATES)->setChecked(keep);
            QSettings settings;
            writeCheckItems(settings, m_view.scene().m_closedResult, keep);
            return true;
        }
        case ID_VIEW_TOOLBAR:
            m_toolBar->setVisible(!m_toolBar->isVisible());
            return true;
        case ID_VIEW_STATUS_BAR:
            m_statusBar->setVisible(!m_statusBar->isVisible());
            return true;
        default:
            return false;
    }
}

bool CMainFrame::OnUpdateFrameCommand(int32_t id, CommandState& state) const {
    switch (id) {
        case ID_VIEW_TOOLBAR:
            state.checked = m_toolBar->isVisible() ? 1 : 0;
            return true;
        case ID_VIEW_STATUS_BAR:
            state.checked = m_statusBar->isVisible() ? 1 : 0;
            return true;
        default:
            // The octree and edge-sampling marks are written by their commands alone.
            return false;
    }
}

void CMainFrame::setCellDisplayMode(int32_t mode, int32_t checkedId) {
    m_view.viewState().m_cellDisplayMode = mode;
    for (int32_t id : kCellCommands) {
        menuAction(id)->setChecked(id == checkedId);
    }
    menuAction(ID_CELLS_NONE)->setChecked(false);
    m_view.requestRedraw();
}

void CMainFrame::rebuildRecentMenus() {
    for (int32_t n : {1, 2}) {
        QMenu* menu = m_recent[n - 1];
        menu->clear();
        int index = 1;
        for (const QString& path : m_view.recentFiles(n)) {
            // "&10" would take the key 1 from "&1".
            const QString number =
                index < 10 ? QStringLiteral("&%1").arg(index) : QString::number(index);
            ++index;
            const QString text = QStringLiteral("%1 %2").arg(number).arg(
                QDir::toNativeSeparators(path).replace(QLatin1Char('&'), QStringLiteral("&&")));
            QAction* action = menu->addAction(text);
            connect(action, &QAction::triggered, this, [this, n, path] {
                if (m_view.busy()) {
                    return;
                }
                // The menus are built anew below, this action with them.
                const QString file = path;
                const int32_t object = n;
                if (!QFileInfo(file).isFile()) {
                    // Gone since: it leaves the list; the load still says why nothing came.
                    QStringList files = m_view.recentFiles(object);
                    files.removeAll(file);
                    m_view.setRecentFiles(object, files);
                    QSettings settings;
                    writeRecentFiles(settings, object, files);
                }
                m_view.OpenFile(object, file);
                updateCommandStates();
            });
        }
        menu->setEnabled(!menu->isEmpty());
    }
}

void CMainFrame::updateLockIndicators() {
    const LockKeyState locks = queryLockKeys();
    m_capsPane.setEnabled(locks.caps);
    m_numPane.setEnabled(locks.num);
    m_scrollPane.setEnabled(locks.scroll);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_view.busy()) {
        m_closePending = true;
        event->ignore();
        return;
    }
    m_closePending = false;
    if (!m_view.maySafelyDiscardResult()) {
        event->ignore();
        return;
    }
    QSettings settings;
    writeWindowGeometry(settings, saveGeometry());
    QMainWindow::closeEvent(event);
}

QMenu* CMainFrame::createPopupMenu() {
    // The bars' context menu: the two commands of "Prikazi", with their Croatian names.
    updateCommandStates();
    auto* menu = new QMenu(this);
    menu->addAction(menuAction(ID_VIEW_TOOLBAR));
    menu->addAction(menuAction(ID_VIEW_STATUS_BAR));
    return menu;
}

void CMainFrame::focusInEvent(QFocusEvent* event) {
    QMainWindow::focusInEvent(event);
    m_view.setFocus();
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        m_view.setFocus();
    }
    return QMainWindow::event(event);
}

}  // namespace korvan::app
