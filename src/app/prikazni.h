// A small dialog that edits one number under a caption and a label chosen by its caller (the
// sampling factor). "Odustani", Escape and the close box cancel; "U redu" accepts only a
// convertible number.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace korvan::app {

class Prompts;

// The label of the sampling factor's field.
inline constexpr const char* kSamplingFactorLabel =
    "Faktor uzorkovanja: najdulji brid kao udio dijagonale tijela (izmedu 0 i 1)";

class CPrikazni : public QDialog {
public:
    CPrikazni(Prompts& prompts, const QString& title, QWidget* parent, const QString& label = {});

    QString m_title;
    float m_value = 0.0f;

    // Shows m_value in the edit.
    void exchangeToControls();
    QLineEdit* valueEdit() const { return m_edit; }

    // "U redu": reads the edit into m_value and closes, or prompts and keeps the dialog open.
    void accept() override;

private:
    Prompts& m_prompts;
    QLineEdit* m_edit;
};

}  // namespace korvan::app
