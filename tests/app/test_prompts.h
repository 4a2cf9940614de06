// Answers the program's questions in tests: records messages, hands out file names, and runs
// dialogs through a handler instead of a modal loop.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/generator_dialog.h"
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

// Fresh recorded prompts for `view`, which owns them.
template <typename View>
TestPrompts* installPrompts(View& view) {
    auto prompts = std::make_unique<TestPrompts>();
    TestPrompts* recorded = prompts.get();
    view.setPrompts(std::move(prompts));
    return recorded;
}

// A closed tetrahedron, for the tests that open files.
inline const QByteArray kTetra =
    "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nf 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n";

inline bool writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// A view as a new window has it (camera and switches), keeping the size of the widget.
inline void resetView(korvan::ViewState& view) {
    korvan::ViewState fresh;
    fresh.m_width = view.m_width;
    fresh.m_height = view.m_height;
    fresh.m_aspect = view.m_aspect;
    view = fresh;
}

// Chooses the generator's shape and fills its visible fields in row order.
inline void fillGenerator(korvan::app::CGenerator& g, int shape, const QStringList& fields) {
    g.shapeList()->setCurrentIndex(shape);
    int next = 0;
    for (int row = 1; row <= 6 && next < fields.size(); ++row) {
        if (!g.rowEdit(row)->isHidden()) {
            g.rowEdit(row)->setText(fields[next++]);
        }
    }
}

// Fills the generator for `object` and presses "NAPRAVI".
inline std::function<int(QDialog&)> generatorAnswer(int object, int shape, QStringList fields) {
    return [=](QDialog& d) {
        auto* g = dynamic_cast<korvan::app::CGenerator*>(&d);
        if (g == nullptr) {
            return int(QDialog::Rejected);
        }
        object == 1 ? g->OnObject1() : g->OnObject2();
        fillGenerator(*g, shape, fields);
        g->OnMake();
        return g->result();
    };
}
