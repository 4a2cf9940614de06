#include "app/commands.h"

#include <QAction>

#include <algorithm>
#include <array>

namespace korvan::app {
namespace {

constexpr std::array kCommands = {
    CommandInfo{ID_OPEN_OBJECT1, "Citanje objekta1 iz datoteke", false, "Ctrl+O"},
    CommandInfo{ID_OPEN_OBJECT2, "Citanje objekta2 iz datoteke", false, "Ctrl+Shift+O"},
    CommandInfo{ID_SAVE_OBJECT1, "Spremanje objekta1 u datoteku", false, "Ctrl+S"},
    CommandInfo{ID_SAVE_OBJECT2, "Spremanje objekta2 u datoteku", false, "Ctrl+Shift+S"},
    CommandInfo{ID_UNDO, "Vraca objekte kakvi su bili prije zadnje promjene\nPonisti", false,
                "Ctrl+Z"},
    CommandInfo{ID_REDO, "Ponovo obavlja ponistenu promjenu\nPonovi", false, "Ctrl+Y"},
    CommandInfo{ID_FIT_VIEW, "Smjesta cijelu scenu u prikaz (tipka Home)", false},
    CommandInfo{ID_VIEW_FRONT, "Pogled sprijeda (tipka 1 na numerickoj tipkovnici)", false},
    CommandInfo{ID_VIEW_TOP, "Pogled odozgo (tipka 7 na numerickoj tipkovnici)", false},
    CommandInfo{ID_VIEW_SIDE, "Pogled sa strane (tipka 3 na numerickoj tipkovnici)", false},
    CommandInfo{ID_VIEW_ISO, "Izometrijski pogled (tipka 9 na numerickoj tipkovnici)", false},
    CommandInfo{ID_APP_EXIT, "Izlaz iz programa\nIzlaz", false},
    CommandInfo{ID_UNION, "Obavlja uniju objekta1 i objekta2", false},
    CommandInfo{ID_INTERSECTION, "Obavlja presjek objekta1 i objekta2", false},
    CommandInfo{ID_DIFFERENCE, "Obavlja razliku objekta1 i objekta2", false},
    CommandInfo{ID_ANIMATION, "Animiranje scene. Objekt2 ponasa se kao glodalica na objektu1",
                false},
    CommandInfo{ID_SAMPLING_FACTOR, "", false},
    CommandInfo{ID_GENERATOR, "Generator objekata", false},
    CommandInfo{ID_OBJECT2_PLACEMENT, "Upis pomaka i zakreta objekta 2", false},
    CommandInfo{ID_VIEW_IMAGE, "", false},
    CommandInfo{ID_EDGE_SAMPLING, "", true},
    CommandInfo{ID_CLOSED_RESULT,
                "Unija, presjek, razlika i animacija daju zatvoreno tijelo s tocnim presjecima",
                true},
    CommandInfo{ID_KEEP_COORDINATES,
                "Datoteke zadrzavaju svoje jedinice i polozaj (bez centriranja i skaliranja)",
                true},
    CommandInfo{ID_COLORED_MATERIALS, "", true},
    CommandInfo{ID_VIEW_TOOLBAR, "Skriva ili pokazuje alatnu traku", true},
    CommandInfo{ID_VIEW_STATUS_BAR, "Skriva ili pokazuje statusnu traku", true},
    CommandInfo{ID_OBJECT_INFO, "", false},
    CommandInfo{ID_CELLS_INNER, "", true},
    CommandInfo{ID_CELLS_OUTER, "", true},
    CommandInfo{ID_CELLS_BOUNDARY, "", true},
    CommandInfo{ID_CELLS_UNSORTED, "", true},
    CommandInfo{ID_CELLS_ALL, "", true},
    CommandInfo{ID_CELLS_NONE, "", true},
    CommandInfo{ID_APP_ABOUT, "Prikaz informacija o programu\nO programu", false},
    CommandInfo{ID_MOVE_OBJECT2, "", false},
    CommandInfo{ID_ROTATE_OBJECT2, "", false},
};

// The "\t&1" parts of the octree menu are shown, never bound: the digit keys are the view's.
// The open commands show their Ctrl shortcuts instead.
constexpr std::array kFileMenu = {
    MenuItem{ID_OPEN_OBJECT1, "Otvori objekt1"},
    MenuItem{ID_OPEN_OBJECT2, "Otvori objekt2"},
    MenuItem{ID_SAVE_OBJECT1, "Spremi objekt1"},
    MenuItem{ID_SAVE_OBJECT2, "Spremi objekt2"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_APP_EXIT, "I&zlaz"},
};
constexpr std::array kEditMenu = {
    MenuItem{ID_UNDO, "&Ponisti"},
    MenuItem{ID_REDO, "Po&novi"},
};
constexpr std::array kActionsMenu = {
    MenuItem{ID_UNION, "&Unija"},
    MenuItem{ID_INTERSECTION, "&Presjek"},
    MenuItem{ID_DIFFERENCE, "&Razlika"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_ANIMATION, "&Animacija"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_SAMPLING_FACTOR, "&Faktor uzorkovanja"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_GENERATOR, "&Generator objekata"},
    MenuItem{ID_OBJECT2_PLACEMENT, "P&olozaj objekta 2"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_VIEW_IMAGE, "Slika prikaza"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_EDGE_SAMPLING, "Uzorkovanje rubova"},
    MenuItem{ID_CLOSED_RESULT, "Zatvoreni rezultat"},
    MenuItem{ID_KEEP_COORDINATES, "Zadrzi koordinate datoteka"},
};
constexpr std::array kViewMenu = {
    MenuItem{ID_COLORED_MATERIALS, "&Obojeni materijali"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_VIEW_TOOLBAR, "&Alatna traka"},
    MenuItem{ID_VIEW_STATUS_BAR, "&Statusna traka"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_OBJECT_INFO, "Info o tijelima"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_FIT_VIEW, "Cijela scena\tHome"},
    MenuItem{ID_VIEW_FRONT, "Pogled sprijeda\tNum 1"},
    MenuItem{ID_VIEW_TOP, "Pogled odozgo\tNum 7"},
    MenuItem{ID_VIEW_SIDE, "Pogled sa strane\tNum 3"},
    MenuItem{ID_VIEW_ISO, "Izometrijski pogled\tNum 9"},
};
constexpr std::array kOctreeMenu = {
    MenuItem{ID_CELLS_INNER, "Unutarnje celije\t&1"},
    MenuItem{ID_CELLS_OUTER, "Vanjske celije\t&2"},
    MenuItem{ID_CELLS_BOUNDARY, "Granicne celije\t&3"},
    MenuItem{ID_CELLS_UNSORTED, "Nesortirane celije\t&4"},
    MenuItem{ID_CELLS_ALL, "Sve celije\t&5"},
    MenuItem{ID_CELLS_NONE, "Nista\t&0"},
};
constexpr std::array kHelpMenu = {
    MenuItem{ID_APP_ABOUT, "O programu.."},
};
const std::array kMenuBar = {
    MenuDefinition{"&Datoteka", kFileMenu},         MenuDefinition{"&Uredi", kEditMenu},
    MenuDefinition{"&Akcije", kActionsMenu},        MenuDefinition{"Pr&ikazi", kViewMenu},
    MenuDefinition{"&Oktalno stablo", kOctreeMenu}, MenuDefinition{"&Pomoc", kHelpMenu},
};
constexpr std::array kPopupMenu = {
    MenuItem{ID_MOVE_OBJECT2, "Pomicanje objekta 2"},
    MenuItem{ID_OBJECT2_PLACEMENT, "Polozaj objekta 2"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_UNION, "Unija"},
    MenuItem{ID_DIFFERENCE, "Razlika"},
    MenuItem{ID_INTERSECTION, "Presjek"},
    MenuItem{ID_NONE, ""},
    MenuItem{ID_FIT_VIEW, "Cijela scena"},
    MenuItem{ID_VIEW_FRONT, "Pogled sprijeda"},
    MenuItem{ID_VIEW_TOP, "Pogled odozgo"},
    MenuItem{ID_VIEW_SIDE, "Pogled sa strane"},
    MenuItem{ID_VIEW_ISO, "Izometrijski pogled"},
};
constexpr std::array<int32_t, 13> kToolbar = {
    ID_OPEN_OBJECT1, ID_OPEN_OBJECT2, ID_NONE,       ID_SAVE_OBJECT1, ID_SAVE_OBJECT2,
    ID_NONE,         ID_UNION,        ID_DIFFERENCE, ID_INTERSECTION, ID_NONE,
    ID_GENERATOR,    ID_NONE,         ID_ANIMATION,
};

}  // namespace

std::span<const CommandInfo> commandTable() {
    return kCommands;
}

const CommandInfo* findCommand(int32_t id) {
    const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                                 [id](const CommandInfo& c) { return c.id == id; });
    return it == kCommands.end() ? nullptr : &*it;
}

std::span<const MenuDefinition> menuBarLayout() {
    return kMenuBar;
}

std::span<const MenuItem> popupMenuLayout() {
    return kPopupMenu;
}

std::span<const int32_t> toolbarLayout() {
    return kToolbar;
}

int32_t commandIdOf(const QAction* action) {
    return action == nullptr ? 0 : action->data().toInt();
}

}  // namespace korvan::app
