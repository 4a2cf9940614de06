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

class CGenerator : public QDialog {
public:
    CGenerator(Prompts& prompts, QWidget* parent);

    int32_t m_m = 0;
    int32_t m_n = 0;
    int32_t m_spare = 0;
    int32_t m_whichObject = 1;
    float m_a = 0.0f;
    float m_b = 0.0f;
    float m_c = 0.0f;

    PrimitiveParameters parameters() const;

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

    Prompts& m_prompts;
    QComboBox* m_shapeList;
    QLabel* m_preview;
    QRadioButton* m_object1;
    QRadioButton* m_object2;
    std::array<Row, 6> m_rows;
};

}  // namespace korvan::app
