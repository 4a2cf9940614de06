#include "app/progress_popup.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace korvan::app {

void WorkProgress::start(const QString& text) {
    const std::lock_guard lock(m_mutex);
    m_text = text;
    m_share = 0;
    m_upTo = 0;
    m_done = nullptr;
    m_items = 0;
    m_runDone = 0;
    m_runTotal = 0;
}

void WorkProgress::setText(const QString& text) {
    const std::lock_guard lock(m_mutex);
    m_text = text;
}

void WorkProgress::setShare(double share) {
    const std::lock_guard lock(m_mutex);
    m_share = share;
    m_done = nullptr;
    m_items = 0;
}

void WorkProgress::countTowards(double upTo, const std::atomic<int64_t>* done, int64_t items) {
    const std::lock_guard lock(m_mutex);
    m_upTo = upTo;
    m_done = done;
    m_items = items;
}

void WorkProgress::setRun(int32_t done, int32_t total) {
    const std::lock_guard lock(m_mutex);
    m_runDone = done;
    m_runTotal = total;
}

QString WorkProgress::text() const {
    const std::lock_guard lock(m_mutex);
    return m_text;
}

double WorkProgress::share() const {
    const std::lock_guard lock(m_mutex);
    double share = m_share;
    if (m_done != nullptr && m_items > 0 && m_upTo > m_share) {
        const double part =
            std::min(1.0, static_cast<double>(m_done->load()) / static_cast<double>(m_items));
        share += (m_upTo - m_share) * part;
    }
    if (m_runTotal > 0) {
        share = (m_runDone + std::min(1.0, share)) / m_runTotal;
    }
    return share;
}

CProgressPopup::CProgressPopup(QWidget* view, const WorkProgress& progress,
                               std::function<void()> onStop)
    : QFrame(view),
      m_progress(progress),
      m_onStop(std::move(onStop)),
      m_caption(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_stop(new QPushButton(QStringLiteral("Prekini"), this)) {
    setObjectName(QStringLiteral("CProgressPopup"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setFixedWidth(340);
    // The caption keeps the look of the program's earlier popup: white on a dark blue band.
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAutoFillBackground(true);
    m_caption->setMargin(6);
    QPalette captionColours = m_caption->palette();
    captionColours.setColor(QPalette::Window, QColor(10, 36, 106));
    captionColours.setColor(QPalette::WindowText, Qt::white);
    m_caption->setPalette(captionColours);
    QFont bold = m_caption->font();
    bold.setBold(true);
    m_caption->setFont(bold);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(true);
    m_stop->setObjectName(QStringLiteral("prekini"));
    m_stop->setToolTip(QStringLiteral("Prekida operaciju; scena ostaje kakva je bila (Esc)"));
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_onStop) {
            m_onStop();
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(m_bar, 1);
    row->addWidget(m_stop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(m_caption);
    row->setContentsMargins(6, 0, 6, 0);
    layout->addLayout(row);
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
    hide();
}

void CProgressPopup::showCentred() {
    refresh();
    adjustSize();
    const QWidget* view = parentWidget();
    move(view->width() / 2 - width() / 2, view->height() / 2 - height() / 2);
    show();
    raise();
    m_timer.start(40);
}

void CProgressPopup::stopping() {
    m_stopping = true;
    m_stop->setEnabled(false);
    refresh();
}

int CProgressPopup::barValue() const {
    return m_bar->value();
}

QString CProgressPopup::text() const {
    return m_caption->text();
}

void CProgressPopup::refresh() {
    const QString text = m_progress.text();
    m_caption->setText(m_stopping ? QStringLiteral("Prekidanje...") : text);
    m_bar->setValue(static_cast<int>(1000.0 * std::clamp(m_progress.share(), 0.0, 1.0)));
}

void CProgressPopup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_onStop) {
        m_onStop();
        return;
    }
    QFrame::keyPressEvent(event);
}

}  // namespace korvan::app
