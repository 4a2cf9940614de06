#include "app/about_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/main_app.h"
#include "app/prompts.h"
#include "app/rtf_reader.h"

namespace korvan::app {

namespace {
constexpr const char* kFileName = "myfile.rtf";
}

CAboutBox::CAboutBox(Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_richEdit(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("CAboutBox"));
    setWindowTitle(QStringLiteral("O programu..."));
    m_richEdit->setObjectName(QStringLiteral("1040"));
    m_richEdit->setReadOnly(true);
    m_richEdit->setOpenLinks(false);
    auto* ok = new QPushButton(QStringLiteral("U redu"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_richEdit);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    resize(560, 500);
    loadText();
}

QString CAboutBox::sourcePath() const {
    const QString inStartFolder = QDir(QString::fromStdString(g_startDir)).filePath(kFileName);
    if (QFile::exists(inStartFolder)) {
        return inStartFolder;
    }
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(kFileName);
    if (QFile::exists(besideProgram)) {
        return besideProgram;
    }
    return {};
}

void CAboutBox::loadText() {
    const QString path = sourcePath();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        m_richEdit->clear();
        // The message itself changes the activation; one report per opening is enough.
        if (!m_missingReported) {
            m_missingReported = true;
            const QString shown = path.isEmpty()
                                      ? QDir(QString::fromStdString(g_startDir)).filePath(kFileName)
                                      : path;
            m_prompts.message(this,
                              QStringLiteral("Datoteku %1 nije moguce otvoriti.")
                                  .arg(QDir::toNativeSeparators(shown)),
                              {}, Prompts::Icon::Error);
        }
        return;
    }
    m_richEdit->setHtml(rtfToHtml(file.readAll()));
}

void CAboutBox::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        loadText();
    }
}

}  // namespace korvan::app
