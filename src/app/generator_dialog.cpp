#include "app/generator_dialog.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>

#include "app/generator_previews.h"
#include "app/number_fields.h"
#include "app/prompts.h"

namespace korvan::app {
namespace {

// Control ids of rows 1 to 6: label and edit.
constexpr std::array<int, 6> kLabelIds = {1010, 1011, 1012, 1013, 1014, 1015};
constexpr std::array<int, 6> kEditIds = {1000, 1005, 1006, 1007, 1008, 1009};

struct RowText {
    int row;
    const char* label;
};

struct ShapeRows {
    const char* name;
    std::array<RowText, 3> rows;  // row 0 ends the list
};

constexpr std::array<ShapeRows, 5> kShapes = {{
    {"Kugla",
     {{{1, "Broj podjeljaka     (m) "}, {2, "Broj podjeljaka     (n) "}, {4, "Radijus     (r) "}}}},
    {"Kocka", {{{4, "Duljina stranice     (a) "}, {0, ""}, {0, ""}}}},
    {"Kvadar",
     {{{4, "Duljina stranice     (a) "},
       {5, "Duljina stranice     (b) "},
       {6, "Duljina stranice     (c) "}}}},
    {"Valjak",
     {{{1, "Broj podjeljaka     (n) "}, {4, "Radijus     (r) "}, {5, "Visina     (h) "}}}},
    {"Stozac",
     {{{1, "Broj podjeljaka     (n) "}, {4, "Radijus     (r) "}, {5, "Visina     (h) "}}}},
}};

// The row of each parameter field.
int rowOf(ParameterField field) {
    switch (field) {
        case ParameterField::M:
            return 1;
        case ParameterField::N:
            return 2;
        case ParameterField::A:
            return 4;
        case ParameterField::B:
            return 5;
        case ParameterField::C:
            return 6;
    }
    return 1;
}

}  // namespace

CGenerator::CGenerator(Prompts& prompts, QWidget* parent, const GeneratorValues& start)
    : QDialog(parent),
      m_prompts(prompts),
      m_values(start),
      m_shapeList(new QComboBox(this)),
      m_preview(new QLabel(this)),
      m_object1(new QRadioButton(QStringLiteral("Objekt 1"), this)),
      m_object2(new QRadioButton(QStringLiteral("Objekt 2"), this)) {
    setObjectName(QStringLiteral("CGenerator"));
    setWindowTitle(QStringLiteral("Generiranje objekata"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* group = new QGroupBox(QStringLiteral("Objekt koji se generira"), this);
    m_object1->setObjectName(QStringLiteral("1001"));
    m_object2->setObjectName(QStringLiteral("1002"));
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(m_object1);
    groupLayout->addWidget(m_object2);
    connect(m_object1, &QRadioButton::clicked, this, [this] { OnObject1(); });
    connect(m_object2, &QRadioButton::clicked, this, [this] { OnObject2(); });

    m_shapeList->setObjectName(QStringLiteral("1003"));
    for (const ShapeRows& shape : kShapes) {
        m_shapeList->addItem(QString::fromLatin1(shape.name));
    }
    for (size_t shape = 0; shape < m_texts.size(); ++shape) {
        const PrimitiveParameters& p = m_values.perShape[shape];
        m_texts[shape] = {formatInteger(p.m), formatInteger(p.n), QStringLiteral("0"),
                          formatFloat(p.a),   formatFloat(p.b),   formatFloat(p.c)};
    }
    const int startShape = static_cast<int>(m_values.shape);
    m_shapeList->setCurrentIndex(
        startShape >= 0 && startShape < static_cast<int>(kShapes.size()) ? startShape : 0);
    connect(m_shapeList, &QComboBox::currentIndexChanged, this, [this] { OnShapeChanged(); });

    auto* fields = new QGridLayout;
    fields->setColumnStretch(0, 1);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        row.label = new QLabel(QStringLiteral("Static"), this);
        row.label->setObjectName(QString::number(kLabelIds[i]));
        row.edit = new QLineEdit(this);
        row.edit->setObjectName(QString::number(kEditIds[i]));
        row.edit->setFixedWidth(70);
        int gridRow = static_cast<int>(i);
        if (i >= 3) {
            ++gridRow;  // after the rule between the integers and the lengths
        }
        fields->addWidget(row.label, gridRow, 0);
        fields->addWidget(row.edit, gridRow, 1);
    }
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    fields->addWidget(rule, 3, 0, 1, 2);

    m_preview->setObjectName(QStringLiteral("1004"));
    m_preview->setFixedSize(kPreviewSize + 4, kPreviewSize + 4);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setFrameShape(QFrame::Box);

    auto* make = new QPushButton(QStringLiteral("NAPRAVI"), this);
    make->setObjectName(QStringLiteral("1"));
    make->setDefault(true);
    connect(make, &QPushButton::clicked, this, [this] { OnMake(); });
    auto* cancel = new QPushButton(QStringLiteral("ODUSTANI"), this);
    cancel->setObjectName(QStringLiteral("2"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* left = new QVBoxLayout;
    left->addWidget(group);
    left->addWidget(m_shapeList);
    left->addLayout(fields);
    left->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(make);
    buttons->addWidget(cancel);
    auto* right = new QVBoxLayout;
    right->addWidget(m_preview, 0, Qt::AlignHCenter);
    right->addStretch(1);
    right->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addSpacing(12);
    layout->addLayout(right);

    m_object1->setChecked(true);
    m_whichObject = 1;
    OnShapeChanged();
}

void CGenerator::OnObject1() {
    m_object1->setChecked(true);
    m_whichObject = 1;
}

void CGenerator::OnObject2() {
    m_object2->setChecked(true);
    m_whichObject = 2;
}

void CGenerator::showRows(Shape shape) {
    const ShapeRows& spec = kShapes[static_cast<size_t>(shape)];
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        const RowText* text = nullptr;
        for (const RowText& t : spec.rows) {
            if (t.row == row) {
                text = &t;
            }
        }
        // A hidden row keeps its text and value for a later shape.
        m_rows[i].label->setVisible(text != nullptr);
        m_rows[i].edit->setVisible(text != nullptr);
        if (text != nullptr) {
            m_rows[i].label->setText(QString::fromLatin1(text->label));
        }
    }
}

void CGenerator::OnShapeChanged() {
    const int index = m_shapeList->currentIndex();
    if (index < 0 || index >= static_cast<int>(kShapes.size())) {
        return;
    }
    if (m_shownShape >= 0) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            m_texts[static_cast<size_t>(m_shownShape)][i] = m_rows[i].edit->text();
        }
    }
    m_shownShape = index;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].edit->setText(m_texts[static_cast<size_t>(index)][i]);
    }
    const Shape shape = static_cast<Shape>(index);
    showRows(shape);
    m_preview->setPixmap(previewPicture(shape));
}

GeneratorValues CGenerator::values() const {
    GeneratorValues v = m_values;
    if (result() == QDialog::Accepted) {
        const PrimitiveParameters p = parameters();
        v.shape = p.shape;
        PrimitiveParameters& kept = v.perShape[static_cast<size_t>(p.shape)];
        // Only the fields the shape reads: the others stay as they were.
        switch (p.shape) {
            case Shape::Sphere:
                kept = PrimitiveParameters::sphere(p.m, p.n, p.a);
                break;
            case Shape::Cube:
                kept = PrimitiveParameters::cube(p.a);
                break;
            case Shape::Box:
                kept = PrimitiveParameters::box(p.a, p.b, p.c);
                break;
            case Shape::Cylinder:
                kept = PrimitiveParameters::cylinder(p.m, p.a, p.b);
                break;
            case Shape::Cone:
                kept = PrimitiveParameters::cone(p.m, p.a, p.b);
                break;
        }
    }
    return v;
}

void CGenerator::refuseRow(int row, const char* message, const QString& caption) {
    // The label without its padding names the field; the bounds are those the generators check.
    const QString field = rowLabel(row)->text().simplified();
    const QString rule = row <= 3 ? QStringLiteral("cijeli broj od 3 do 1000")
                                  : QStringLiteral("broj veci od 0.0001, najvise 10000");
    m_prompts.message(
        this, QStringLiteral("%1\n%2: %3").arg(QString::fromLatin1(message), field, rule), caption,
        caption.isEmpty() ? Prompts::Icon::Information : Prompts::Icon::None);
    QLineEdit* edit = rowEdit(row);
    edit->setFocus();
    edit->selectAll();
}

PrimitiveParameters CGenerator::parameters() const {
    PrimitiveParameters p;
    p.shape = static_cast<Shape>(m_shapeList->currentIndex());
    p.m = m_m;
    p.n = m_n;
    p.a = m_a;
    p.b = m_b;
    p.c = m_c;
    return p;
}

void CGenerator::OnMake() {
    const int index = m_shapeList->currentIndex();
    if (index < 0 || index >= static_cast<int>(kShapes.size())) {
        return;
    }
    // Convert the fields the shape shows, in row order; the first that fails stops everything,
    // so nothing is made from values left over from an earlier attempt.
    for (const RowText& t : kShapes[static_cast<size_t>(index)].rows) {
        if (t.row == 0) {
            continue;
        }
        QLineEdit* edit = rowEdit(t.row);
        bool ok = false;
        if (t.row <= 3) {
            const std::optional<int32_t> v = parseInteger(edit->text());
            ok = v.has_value();
            if (ok) {
                (t.row == 1 ? m_m : t.row == 2 ? m_n : m_spare) = *v;
            }
        } else {
            const std::optional<float> v = parseFloat(edit->text());
            ok = v.has_value();
            if (ok) {
                (t.row == 4 ? m_a : t.row == 5 ? m_b : m_c) = *v;
            }
        }
        if (!ok) {
            refuseRow(t.row, t.row <= 3 ? kEnterIntegerMessage : kEnterNumberMessage, {});
            return;
        }
    }
    if (m_whichObject != 1 && m_whichObject != 2) {
        m_prompts.message(this, QStringLiteral("Nije odabran objekt"), QStringLiteral("Greska"),
                          Prompts::Icon::None);
        return;
    }
    if (const auto bad = firstInvalidField(parameters())) {
        refuseRow(rowOf(*bad), kInvalidParameterMessage, QStringLiteral("Greska"));
        return;
    }
    accept();
}

}  // namespace korvan::app
