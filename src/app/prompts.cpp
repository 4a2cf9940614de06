#include "app/prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace korvan::app {

void Prompts::message(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(parent);
    box.setWindowTitle(caption.isEmpty() ? QApplication::applicationDisplayName() : caption);
    box.setText(text);
    box.setIcon(icon == Icon::Error         ? QMessageBox::Critical
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

Prompts::Answer Prompts::question(QWidget* parent, const QString& text) {
    QMessageBox box(parent);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(text);
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return Answer::Cancel;
    }
}

QString Prompts::openFileName(QWidget* parent, const QString& folder, const QString& filter) {
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("OBJ"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

QString Prompts::saveFileName(QWidget* parent, const QString& folder, const QString& filter,
                              const QString& defaultSuffix) {
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // A name typed without an extension gets the one of the format chosen in the list.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& chosen) { dialog.setDefaultSuffix(suffixOfFilter(chosen)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

int Prompts::runDialog(QDialog& dialog) {
    return dialog.exec();
}

QString meshFileFilter() {
    // The file dialog matches patterns by case on Linux: each extension in its usual spellings.
    return QStringLiteral(
        "Sve mreze (*.obj *.OBJ *.Obj *.stl *.STL *.Stl *.ply *.PLY *.off *.OFF *.3mf *.3MF);;"
        ".OBJ objekti (*.OBJ *.obj *.Obj);;STL (*.stl *.STL *.Stl);;PLY (*.ply *.PLY);;"
        "OFF (*.off *.OFF);;3MF (*.3mf *.3MF);;Sve datoteke (*)");
}

QString suffixOfFilter(const QString& filter) {
    const qsizetype star = filter.indexOf(QStringLiteral("*."));
    if (star < 0 || filter.startsWith(QStringLiteral("Sve mreze"))) {
        return QStringLiteral("obj");
    }
    qsizetype end = star + 2;
    while (end < filter.size() && filter[end].isLetterOrNumber()) {
        ++end;
    }
    return filter.mid(star + 2, end - star - 2).toLower();
}

}  // namespace korvan::app
