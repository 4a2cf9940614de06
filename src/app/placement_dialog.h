// "Polozaj objekta 2": object 2's offset and turn typed as numbers. Valid values are shown at
// once while they are typed; "Primijeni", "U redu" and "Ponisti polozaj" hand the placement
// over as a change of their own. The scene is not touched here: the view does that through
// the two handlers.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

#include "geometry/vector4.h"

class QLineEdit;

namespace korvan::app {

class Prompts;

// Object 2's offset from where it was read or generated, and its turn about x, y and z in
// degrees (applied in the order z, y, x, as the view draws it).
struct Object2Placement {
    Vector4 offset;
    Vector4 rotation;
    friend bool operator==(const Object2Placement&, const Object2Placement&) = default;
};

class CObject2Placement : public QDialog {
public:
    // `show` is called with every valid placement the fields hold as they change; `apply` with
    // the placement "Primijeni", "U redu" or "Ponisti polozaj" settle on.
    CObject2Placement(Prompts& prompts, QWidget* parent, const Object2Placement& start,
                      std::function<void(const Object2Placement&)> show,
                      std::function<void(const Object2Placement&)> apply);

    // "Primijeni": true once the fields are valid and handed over; otherwise the first field
    // that is not says why and takes the cursor.
    bool OnApply();
    // "Ponisti polozaj": no offset and no turn, handed over at once.
    void OnResetPlacement();
    // "U redu": as "Primijeni", then closes.
    void accept() override;

    // Fields in the order offset x, y, z, then turn about x, y, z.
    QLineEdit* field(int index) const { return m_fields[static_cast<size_t>(index)]; }

private:
    // The placement the fields hold; with `refuse`, the first bad field is reported.
    std::optional<Object2Placement> readFields(bool refuse);
    void showFields(const Object2Placement& placement);

    Prompts& m_prompts;
    std::function<void(const Object2Placement&)> m_show;
    std::function<void(const Object2Placement&)> m_apply;
    std::array<QLineEdit*, 6> m_fields{};
    bool m_filling = false;
};

}  // namespace korvan::app
