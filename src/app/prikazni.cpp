#include "app/prikazni.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/number_fields.h"
#include "app/prompts.h"

namespace korvan::app {

CPrikazni::CPrikazni(Prompts& prompts, const QString& title, QWidget* parent)
    : QDialog(parent), m_title(title), m_prompts(prompts), m_edit(new QLineEdit(this)) {
    setObjectName(QStringLiteral("CPrikazni"));
    setWindowTitle(m_title);
    m_edit->setObjectName(QStringLiteral("1000"));
    m_edit->setMinimumWidth(90);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CPrikazni::accept);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_edit);
    layout->addStretch(1);
    layout->addWidget(ok);
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
