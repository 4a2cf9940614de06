// "Info o tijelima": the vertex and triangle counts of both objects in a read-only text.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace korvan::app {

class CinfoDisplay : public QDialog {
public:
    explicit CinfoDisplay(QWidget* parent);

    // The text shown, with "\r\n" line ends as the statistics are written.
    QString m_text;
    void exchangeToControls();
    QString shownText() const;

private:
    QPlainTextEdit* m_edit;
};

}  // namespace korvan::app
