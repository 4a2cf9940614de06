// The command table: every command of the menus, the toolbar and the view's popup menu with
// its id, texts and where it appears. Menus, toolbar and popup are built from these tables.
#pragma once

#include <cstdint>
#include <span>

class QAction;
class QMainWindow;
class QMenu;
class QObject;
class QString;
class QToolBar;

namespace korvan::app {

enum CommandId : int32_t {
    ID_NONE = 0,  // a separator in the layout tables
    ID_OPEN_OBJECT1 = 32772,
    ID_OPEN_OBJECT2 = 32774,
    ID_UNION = 32777,
    ID_INTERSECTION = 32778,
    ID_DIFFERENCE = 32779,
    ID_ANIMATION = 32780,
    ID_SAVE_OBJECT1 = 32781,
    ID_SAVE_OBJECT2 = 32782,
    ID_CELLS_INNER = 32789,
    ID_CELLS_OUTER = 32794,
    ID_CELLS_BOUNDARY = 32795,
    ID_CELLS_UNSORTED = 32796,
    ID_CELLS_ALL = 32797,
    ID_CELLS_NONE = 32798,
    ID_SAMPLING_FACTOR = 32799,
    ID_MOVE_OBJECT2 = 32828,
    ID_ROTATE_OBJECT2 = 32829,
    ID_GENERATOR = 32831,
    ID_COLORED_MATERIALS = 32833,
    ID_VIEW_IMAGE = 32841,
    ID_EDGE_SAMPLING = 32842,
    ID_OBJECT_INFO = 32844,
    ID_CLOSED_RESULT = 32845,
    ID_KEEP_COORDINATES = 32846,
    ID_UNDO = 32850,
    ID_REDO = 32851,
    ID_FIT_VIEW = 32852,
    ID_VIEW_FRONT = 32853,
    ID_VIEW_TOP = 32854,
    ID_VIEW_SIDE = 32855,
    ID_VIEW_ISO = 32856,
    ID_OBJECT2_PLACEMENT = 32857,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

struct CommandInfo {
    int32_t id;
    // Status-bar prompt, optionally followed by "\n" and the tooltip; empty when none.
    const char* prompt;
    bool checkable;
    // Key sequence of the menu item (QKeySequence's portable text); null when none.
    const char* shortcut = nullptr;
};

struct MenuItem {
    int32_t id;  // ID_NONE: separator
    const char* text;
};

struct MenuDefinition {
    const char* title;
    std::span<const MenuItem> items;
};

std::span<const CommandInfo> commandTable();
const CommandInfo* findCommand(int32_t id);
std::span<const MenuDefinition> menuBarLayout();
std::span<const MenuItem> popupMenuLayout();
// Toolbar buttons left to right; ID_NONE is a separator.
std::span<const int32_t> toolbarLayout();

// The id a built action carries (0 for none).
int32_t commandIdOf(const QAction* action);

// Enable and check state a handler reports for one command.
struct CommandState {
    bool enabled = true;
    int32_t checked = -1;  // -1: the handler leaves the check mark alone
};

}  // namespace korvan::app
