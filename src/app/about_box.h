// "O programu...": shows myfile.rtf from the start-up folder (or, when that has none, from the
// program's folder), read anew at every activation change.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace korvan::app {

class Prompts;

class CAboutBox : public QDialog {
public:
    CAboutBox(Prompts& prompts, QWidget* parent);

    // Reads the file into the text area; reports a missing file once per opening.
    void loadText();
    // The file shown, or empty when none was found.
    QString sourcePath() const;
    QTextBrowser* textArea() const { return m_richEdit; }

protected:
    void changeEvent(QEvent* event) override;

private:
    Prompts& m_prompts;
    QTextBrowser* m_richEdit;
    bool m_missingReported = false;
};

}  // namespace korvan::app
