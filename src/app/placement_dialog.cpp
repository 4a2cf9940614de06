#include "app/placement_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

#include "app/number_fields.h"
#include "app/prompts.h"
#include "generator/generators.h"

namespace korvan::app {
namespace {

struct FieldSpec {
    const char* label;
    float limit;       // the value lies in [-limit, limit]
    const char* rule;  // that range in words
};

// Offsets reach far enough for parts kept in millimetres; a turn needs no more than one round.
constexpr const char* kOffsetRule = "broj od -1000000 do 1000000";
constexpr const char* kTurnRule = "broj od -360 do 360";
constexpr std::array<FieldSpec, 6> kFields = {{
    {"Pomak X", 1e6f, kOffsetRule},
    {"Pomak Y", 1e6f, kOffsetRule},
    {"Pomak Z", 1e6f, kOffsetRule},
    {"Zakret oko x", 360.0f, kTurnRule},
    {"Zakret oko y", 360.0f, kTurnRule},
    {"Zakret oko z", 360.0f, kTurnRule},
}};

float& component(Object2Placement& p, size_t index) {
    Vector4& v = index < 3 ? p.offset : p.rotation;
    return index % 3 == 0 ? v.x : index % 3 == 1 ? v.y : v.z;
}

}  // namespace

CObject2Placement::CObject2Placement(Prompts& prompts, QWidget* parent,
                                     const Object2Placement& start,
                                     std::function<void(const Object2Placement&)> show,
                                     std::function<void(const Object2Placement&)> apply)
    : QDialog(parent), m_prompts(prompts), m_show(std::move(show)), m_apply(std::move(apply)) {
    setObjectName(QStringLiteral("CObject2Placement"));
    setWindowTitle(QStringLiteral("Polozaj objekta 2"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* offsetGroup = new QGroupBox(QStringLiteral("Pomak od ucitanog polozaja"), this);
    auto* turnGroup = new QGroupBox(QStringLiteral("Zakret (stupnjevi)"), this);
    auto* offsetGrid = new QGridLayout(offsetGroup);
    auto* turnGrid = new QGridLayout(turnGroup);
    for (size_t i = 0; i < m_fields.size(); ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(kFields[i].label));
        edit->setFixedWidth(90);
        auto* label = new QLabel(QString::fromLatin1(kFields[i].label), this);
        label->setBuddy(edit);
        QGridLayout* grid = i < 3 ? offsetGrid : turnGrid;
        const int row = static_cast<int>(i % 3);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        m_fields[i] = edit;
        // Shown as soon as the fields make a valid placement; a half-typed number waits.
        connect(edit, &QLineEdit::textChanged, this, [this] {
            if (m_filling) {
                return;
            }
            if (const std::optional<Object2Placement> p = readFields(false)) {
                m_show(*p);
            }
        });
    }

    auto* reset = new QPushButton(QStringLiteral("Ponisti polozaj"), this);
    reset->setObjectName(QStringLiteral("reset"));
    reset->setAutoDefault(false);
    connect(reset, &QPushButton::clicked, this, [this] { OnResetPlacement(); });
    auto* applyButton = new QPushButton(QStringLiteral("Primijeni"), this);
    applyButton->setObjectName(QStringLiteral("apply"));
    applyButton->setAutoDefault(false);
    connect(applyButton, &QPushButton::clicked, this, [this] { OnApply(); });
    auto* ok = new QPushButton(QStringLiteral("U redu"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
    auto* cancel = new QPushButton(QStringLiteral("Odustani"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(offsetGroup);
    groups->addWidget(turnGroup);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reset);
    buttons->addStretch(1);
    buttons->addWidget(applyButton);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(buttons);

    showFields(start);
    m_fields[0]->setFocus();
    m_fields[0]->selectAll();
}

void CObject2Placement::showFields(const Object2Placement& placement) {
    m_filling = true;
    Object2Placement p = placement;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i]->setText(formatFloat(component(p, i)));
    }
    m_filling = false;
}

std::optional<Object2Placement> CObject2Placement::readFields(bool refuse) {
    Object2Placement p;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const std::optional<float> value = parseFloat(m_fields[i]->text());
        const float limit = kFields[i].limit;
        if (value && std::isfinite(*value) && std::fabs(*value) <= limit) {
            component(p, i) = *value;
            continue;
        }
        if (refuse) {
            // As the generator says it: what is wrong, then the field and its range.
            const QString text = QStringLiteral("%1\n%2: %3")
                                     .arg(QString::fromLatin1(!value ? kEnterNumberMessage
                                                                     : kInvalidParameterMessage),
                                          QString::fromLatin1(kFields[i].label),
                                          QString::fromLatin1(kFields[i].rule));
            m_prompts.message(this, text, !value ? QString() : QStringLiteral("Greska"),
                              !value ? Prompts::Icon::Information : Prompts::Icon::None);
            m_fields[i]->setFocus();
            m_fields[i]->selectAll();
        }
        return std::nullopt;
    }
    return p;
}

bool CObject2Placement::OnApply() {
    const std::optional<Object2Placement> p = readFields(true);
    if (!p) {
        return false;
    }
    m_apply(*p);
    return true;
}

void CObject2Placement::OnResetPlacement() {
    showFields(Object2Placement());
    m_apply(Object2Placement());
}

void CObject2Placement::accept() {
    if (OnApply()) {
        QDialog::accept();
    }
}

}  // namespace korvan::app
