#include "app/prikazni.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/number_fields.h"
#include "app/prompts.h"

namespace korvan::app {

CPrikazni::CPrikazni(Prompts& prompts, const QString& title, QWidget* parent, const QString& label)
    : QDialog(parent), m_title(title), m_prompts(prompts), m_edit(new QLineEdit(this)) {
    setObjectName(QStringLiteral("CPrikazni"));
    setWindowTitle(m_title);
    m_edit->setObjectName(QStringLiteral("1000"));
    m_edit->setMinimumWidth(90);
    auto* ok = new QPushButton(QStringLiteral("U redu"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CPrikazni::accept);
    auto* cancel = new QPushButton(QStringLiteral("Odustani"), this);
    cancel->setObjectName(QStringLiteral("2"));
    connect(cancel, &QPushButton::clicked, this, &CPrikazni::reject);
    auto* layout = new QVBoxLayout(this);
    if (!label.isEmpty()) {
        auto* text = new QLabel(label, this);
        text->setBuddy(m_edit);
        layout->addWidget(text);
    }
    layout->addWidget(m_edit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    m_edit->setFocus();
    exchangeToControls();
}

void CPrikazni::exchangeToControls() {
    m_edit->setText(formatFloat(m_value));
    m_edit->selectAll();
}

void CPrikazni::accept() {
    const auto value = parseFloat(m_edit->text());
    if (!value) {
        m_prompts.message(this, QString::fromLatin1(kEnterNumberMessage), {},
                          Prompts::Icon::Information);
        m_edit->setFocus();
        m_edit->selectAll();
        return;
    }
    m_value = *value;
    QDialog::accept();
}

}  // namespace korvan::app
