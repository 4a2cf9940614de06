// The progress popup: one caption-like bar over the middle of the scene view, naming the
// current phase of a long operation. It is repainted at once on every change, because its
// callers keep the event loop blocked.
#pragma once

#include <QFrame>
#include <QString>

namespace korvan::app {

class CInfoView : public QFrame {
public:
    explicit CInfoView(QWidget* view);

    // Places the popup in the middle of its parent and shows it at once.
    void showCentred(const QString& text);
    // Replaces the text and repaints immediately.
    void SetProgressText(const QString& text);
    const QString& text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void repaintNow();
    QString m_text;
};

}  // namespace korvan::app
