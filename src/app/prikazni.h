// A small dialog that edits one number under a caption chosen by its caller (the sampling
// factor). Escape and the close box cancel; OK accepts only a convertible number.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace korvan::app {

class Prompts;

class CPrikazni : public QDialog {
public:
    CPrikazni(Prompts& prompts, const QString& title, QWidget* parent);

    QString m_title;
    float m_value = 0.0f;

    // Shows m_value in the edit.
    void exchangeToControls();
    QLineEdit* valueEdit() const { return m_edit; }

    // OK: reads the edit into m_value and closes, or prompts and keeps the dialog open.
    void accept() override;

private:
    Prompts& m_prompts;
    QLineEdit* m_edit;
};

}  // namespace korvan::app
