#include "app/info_display.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvan::app {

CinfoDisplay::CinfoDisplay(QWidget* parent) : QDialog(parent), m_edit(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("CinfoDisplay"));
    setWindowTitle(QStringLiteral("Informacije o objektima"));
    m_edit->setObjectName(QStringLiteral("1000"));
    m_edit->setReadOnly(true);
    m_edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_edit);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    resize(330, 230);
}

void CinfoDisplay::exchangeToControls() {
    QString text = m_text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_edit->setPlainText(text);
}

QString CinfoDisplay::shownText() const {
    return m_edit->toPlainText();
}

}  // namespace korvan::app
