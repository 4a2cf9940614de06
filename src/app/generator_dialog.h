// "Generiranje objekata": target, shape and parameters of a new primitive. OK ("NAPRAVI")
// closes only when every field the shape uses converts and lies within its bounds; the
// objects are not touched here, the view generates from parameters() afterwards.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

#include "generator/generators.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace korvan::app {

class Prompts;

// What the generator's fields start with: the shape made last and, per shape, the parameters
// it was last made with (on a first start a sphere of 32 by 32 divisions and radius 1).
struct GeneratorValues {
    Shape shape = Shape::Sphere;
    std::array<PrimitiveParameters, 5> perShape = {
        PrimitiveParameters::sphere(32, 32, 1.0f), PrimitiveParameters::cube(1.0f),
        PrimitiveParameters::box(1.0f, 0.6f, 0.4f), PrimitiveParameters::cylinder(32, 0.5f, 1.0f),
        PrimitiveParameters::cone(32, 0.5f, 1.0f)};
};

class CGenerator : public QDialog {
public:
    CGenerator(Prompts& prompts, QWidget* parent, const GeneratorValues& start = {});

    int32_t m_m = 0;
    int32_t m_n = 0;
    int32_t m_spare = 0;
    int32_t m_whichObject = 1;
    float m_a = 0.0f;
    float m_b = 0.0f;
    float m_c = 0.0f;

    PrimitiveParameters parameters() const;
    // The start values with the shape made (once accepted) as the last one.
    GeneratorValues values() const;

    void OnObject1();
    void OnObject2();
    void OnShapeChanged();
    // "NAPRAVI".
    void OnMake();

    // Rows 1 to 6 (row 3 is never shown): the edit of each, for tests and focus.
    QLineEdit* rowEdit(int row) const { return m_rows[static_cast<size_t>(row - 1)].edit; }
    QLabel* rowLabel(int row) const { return m_rows[static_cast<size_t>(row - 1)].label; }
    QComboBox* shapeList() const { return m_shapeList; }
    QLabel* preview() const { return m_preview; }

private:
    struct Row {
        QLabel* label = nullptr;
        QLineEdit* edit = nullptr;
    };
    void showRows(Shape shape);
    // Tells what was wrong with a row and puts the cursor there.
    void refuseRow(int row, const char* message, const QString& caption);

    Prompts& m_prompts;
    GeneratorValues m_values;
    // Per shape, the text of each row: what was typed stays with its shape while the dialog
    // is open.
    std::array<std::array<QString, 6>, 5> m_texts;
    int m_shownShape = -1;
    QComboBox* m_shapeList;
    QLabel* m_preview;
    QRadioButton* m_object1;
    QRadioButton* m_object2;
    std::array<Row, 6> m_rows;
};

}  // namespace korvan::app
