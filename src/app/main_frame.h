// The main window: menu bar, toolbar and status bar built from the command table, the scene
// view in the middle, and the routing of every command: view first, then frame, then
// application.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "app/commands.h"
#include "app/scene_view.h"

class QAction;
class QMenu;
class QStatusBar;
class QToolBar;

namespace korvan::app {

class CMainFrame : public QMainWindow {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Routes one command; false when nobody handles it.
    bool OnCmdMsg(int32_t id);
    // Recomputes enable and check state of every menu and toolbar action.
    void updateCommandStates();

    CSceneView& view() { return m_view; }
    // The menu-bar action of a command (the toolbar's shares its state).
    QAction* menuAction(int32_t id) const;
    QAction* toolbarAction(int32_t id) const;
    QToolBar* toolBar() const { return m_toolBar; }
    // The context menu of the toolbar and the menu bar: "Alatna traka" and "Statusna traka".
    QMenu* createPopupMenu() override;
    // "Nedavne datoteke" for object 1 or 2.
    QMenu* recentMenu(int32_t objectNumber) const { return m_recent[objectNumber == 1 ? 0 : 1]; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool OnFrameCommand(int32_t id);
    bool OnUpdateFrameCommand(int32_t id, CommandState& state) const;
    void buildCommandUi();
    QAction* makeAction(const MenuItem& item, bool forToolbar);
    void setCellDisplayMode(int32_t mode, int32_t checkedId);
    void updateLockIndicators();
    void rebuildRecentMenus();

    QStatusBar* m_statusBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    CSceneView m_view;
    std::vector<QAction*> m_menuActions;
    std::vector<QAction*> m_toolbarActions;
    QTimer m_idleTimer;
    QLabel m_capsPane;
    QLabel m_numPane;
    QLabel m_scrollPane;
    bool m_closePending = false;
    QMenu* m_recent[2] = {nullptr, nullptr};
};

}  // namespace korvan::app
