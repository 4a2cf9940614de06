// The progress popup of a long operation that runs off the window's thread: the phase's name
// in a caption-like bar, the share done and a "Prekini" button, over the middle of the view.
#pragma once

#include <QFrame>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class QLabel;
class QProgressBar;
class QPushButton;

namespace korvan::app {

// What the operation's thread reports and the window's thread shows: written under the
// mutex by the reporter's calls, read by the popup's timer.
class WorkProgress {
public:
    void start(const QString& text);
    void setText(const QString& text);
    void setShare(double share);
    void countTowards(double upTo, const std::atomic<int64_t>* done, int64_t items);
    // A run of several operations (the milling frames): `done` of `total` are over, and the
    // operation's own share fills the next one.
    void setRun(int32_t done, int32_t total);
    QString text() const;
    // The share from the last phase boundary and the items counted since, 0 to 1.
    double share() const;

private:
    mutable std::mutex m_mutex;
    QString m_text;
    double m_share = 0;
    double m_upTo = 0;
    const std::atomic<int64_t>* m_done = nullptr;
    int64_t m_items = 0;
    int32_t m_runDone = 0;
    int32_t m_runTotal = 0;
};

class CProgressPopup : public QFrame {
public:
    // `onStop` runs on "Prekini" and on Escape.
    CProgressPopup(QWidget* view, const WorkProgress& progress, std::function<void()> onStop);

    // Places the popup in the middle of its parent and shows it.
    void showCentred();
    // The operation was asked to stop: the button is spent and the caption says so.
    void stopping();
    // The bar's value, 0 to 1000, and the caption, as last shown.
    int barValue() const;
    QString text() const;
    QPushButton* stopButton() const { return m_stop; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    const WorkProgress& m_progress;
    std::function<void()> m_onStop;
    QLabel* m_caption;
    QProgressBar* m_bar;
    QPushButton* m_stop;
    QTimer m_timer;
    bool m_stopping = false;
};

}  // namespace korvan::app
