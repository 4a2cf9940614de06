// The program's questions to the user: message boxes, file dialogs and modal dialogs all go
// through one object, so that tests can answer them.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace korvan::app {

class Prompts {
public:
    enum class Icon { None, Information, Error };
    enum class Answer { Yes, No, Cancel };

    virtual ~Prompts() = default;
    // A modal message box with an OK button; `caption` empty means the program's name.
    virtual void message(QWidget* parent, const QString& text, const QString& caption, Icon icon);
    // File-open dialog starting in `folder`; an empty result means cancelled.
    virtual QString openFileName(QWidget* parent, const QString& folder, const QString& filter);
    // File-save dialog with `defaultSuffix` and a prompt before replacing a file.
    virtual QString saveFileName(QWidget* parent, const QString& folder, const QString& filter,
                                 const QString& defaultSuffix);
    // A question with "Da", "Ne" and "Odustani".
    virtual Answer question(QWidget* parent, const QString& text);
    // Runs a dialog modally and returns its result (QDialog::Accepted or Rejected).
    virtual int runDialog(QDialog& dialog);
};

// The file filter of the open and save commands: all mesh formats first, then one per format
// (each extension in its usual letter cases), then all files.
QString meshFileFilter();
// The extension (lower case) of the format a filter of meshFileFilter() names; "obj" for the
// filters of several formats.
QString suffixOfFilter(const QString& filter);

}  // namespace korvan::app
