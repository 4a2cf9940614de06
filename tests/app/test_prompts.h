// Answers the program's questions in tests: records messages, hands out file names, and runs
// dialogs through a handler instead of a modal loop.
#pragma once

#include <QDialog>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

#include "app/prompts.h"
#include "viewer/view_state.h"

struct RecordedMessage {
    QString text;
    QString caption;
    korvan::app::Prompts::Icon icon;
};

class TestPrompts : public korvan::app::Prompts {
public:
    std::vector<RecordedMessage> messages;
    std::deque<QString> fileNames;  // answers of the file dialogs; empty: cancelled
    std::function<int(QDialog&)> dialogHandler;
    int dialogsRun = 0;
    QStringList questions;
    std::deque<Answer> answers;  // empty: "Ne"

    void message(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messages.push_back({text, caption, icon});
    }
    Answer question(QWidget*, const QString& text) override {
        questions << text;
        if (answers.empty()) {
            return Answer::No;
        }
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return next(); }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return next();
    }
    int runDialog(QDialog& dialog) override {
        ++dialogsRun;
        return dialogHandler ? dialogHandler(dialog) : QDialog::Rejected;
    }

private:
    QString next() {
        if (fileNames.empty()) {
            return {};
        }
        QString name = fileNames.front();
        fileNames.pop_front();
        return name;
    }
};

// A view as a new window has it (camera and switches), keeping the size of the widget.
inline void resetView(korvan::ViewState& view) {
    korvan::ViewState fresh;
    fresh.m_width = view.m_width;
    fresh.m_height = view.m_height;
    fresh.m_aspect = view.m_aspect;
    view = fresh;
}
