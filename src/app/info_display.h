// "Info o tijelima": the counts, box, volume and closedness of both objects in a read-only
// text.
#pragma once

#include <QDialog>
#include <QString>

#include "geometry/solid.h"

class QPlainTextEdit;

namespace korvan::app {

// The dialog's text: the core's statistics of each loaded object ("[Objekt N]", vertices,
// triangles), each followed by its box, its volume and whether it is closed with its open and
// non-manifold edge counts, as `korvan-cli info --json` reports them; "\r\n" line ends.
QString objectInfoText(const Solid& object1, const Solid& object2);

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
