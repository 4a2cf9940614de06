#include "app/info_view.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>

namespace korvan::app {

CInfoView::CInfoView(QWidget* view) : QFrame(view) {
    setObjectName(QStringLiteral("CInfoView"));
    setFixedSize(300, 30);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void CInfoView::showCentred(const QString& text) {
    m_text = text;
    const QWidget* view = parentWidget();
    // Halves truncated toward zero: a view narrower than the popup gives a negative x.
    const int x = view->width() / 2 - width() / 2;
    const int y = view->height() / 2 - height() / 2;
    move(x, y);
    show();
    raise();
    repaintNow();
}

void CInfoView::SetProgressText(const QString& text) {
    m_text = text;
    repaintNow();
}

void CInfoView::repaintNow() {
    repaint();
    // Lets the window system show the new picture; user input stays queued until the
    // operation is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CInfoView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient caption(r.topLeft(), r.topRight());
    caption.setColorAt(0.0, QColor(10, 36, 106));
    caption.setColorAt(1.0, QColor(120, 160, 215));
    p.fillRect(r, caption);
    p.setPen(QColor(212, 208, 200));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(r.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

}  // namespace korvan::app
