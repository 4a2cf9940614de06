#include "app/gcode_source.h"

#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include <charconv>
#include <cmath>
#include <string>

#include "app/number_fields.h"

namespace korvan::app {
namespace {

constexpr const char* kKinds[] = {"flat", "ball", "bull", "drill"};
constexpr const char* kKindNames[] = {"Ravno glodalo (flat)", "Kuglasto glodalo (ball)",
                                      "Glodalo s radijusom (bull)", "Svrdlo (drill)"};

// As parseFloat reads a field (a lone decimal comma is a full stop), in double: the program's
// units keep the digits typed, as the command line's do.
std::optional<double> parseDouble(const QString& text) {
    std::string s = text.trimmed().toStdString();
    if (s.find('.') == std::string::npos) {
        for (char& c : s) {
            c = c == ',' ? '.' : c;
        }
    }
    double value = 0.0;
    const char* end = s.data() + s.size();
    const auto [at, ec] = std::from_chars(s.data(), end, value);
    if (s.empty() || ec != std::errc() || at != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

QString formatDouble(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? QString::fromLatin1(buffer, static_cast<int>(end - buffer))
                             : QStringLiteral("0");
}

QLineEdit* field(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

}  // namespace

GcodeSourceBox::GcodeSourceBox(QWidget* parent)
    : QGroupBox(QStringLiteral("G-kod"), parent),
      m_fileEdit(field("gcodeFile", this)),
      m_kindList(new QComboBox(this)),
      m_diameterEdit(field("toolDiameter", this)),
      m_radiusEdit(field("toolCornerRadius", this)),
      m_angleEdit(field("toolTipAngle", this)),
      m_lengthEdit(field("toolFluteLength", this)),
      m_shankDiameterEdit(field("shankDiameter", this)),
      m_shankLengthEdit(field("shankLength", this)),
      m_boxStock(new QRadioButton(QStringLiteral("Kvadar od kuta do kuta"), this)),
      m_objectStock(new QRadioButton(QStringLiteral("Objekt 1 kao sirovac"), this)) {
    setObjectName(QStringLiteral("gcodeSource"));
    m_kindList->setObjectName(QStringLiteral("toolKind"));
    m_boxStock->setObjectName(QStringLiteral("boxStock"));
    m_objectStock->setObjectName(QStringLiteral("object1Stock"));
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        m_kindList->addItem(QString::fromLatin1(kKindNames[i]), QString::fromLatin1(kKinds[i]));
    }
    connect(m_kindList, &QComboBox::currentIndexChanged, this, [this] { enableToolFields(); });

    auto* browse = new QPushButton(QStringLiteral("Potrazi..."), this);
    browse->setObjectName(QStringLiteral("gcodeBrowse"));
    connect(browse, &QPushButton::clicked, this, [this] {
        if (onBrowse) {
            onBrowse();
        }
    });
    auto* fileRow = new QHBoxLayout();
    fileRow->addWidget(m_fileEdit, 1);
    fileRow->addWidget(browse);
    auto* shankRow = new QHBoxLayout();
    shankRow->addWidget(m_shankDiameterEdit);
    shankRow->addWidget(m_shankLengthEdit);
    m_shankDiameterEdit->setPlaceholderText(QStringLiteral("promjer"));
    m_shankLengthEdit->setPlaceholderText(QStringLiteral("duljina"));

    auto* corners = new QGridLayout();
    const char* axes[] = {"x", "y", "z"};
    for (int i = 0; i < 6; ++i) {
        const std::string name = std::string("stock") + axes[i % 3] + std::to_string(i / 3);
        m_cornerEdits[static_cast<size_t>(i)] = field(name.c_str(), this);
        corners->addWidget(m_cornerEdits[static_cast<size_t>(i)], i / 3, i % 3);
    }
    connect(m_boxStock, &QRadioButton::toggled, this, [this](bool box) {
        for (QLineEdit* edit : m_cornerEdits) {
            edit->setEnabled(box);
        }
    });

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Program"), fileRow);
    form->addRow(QStringLiteral("Alat"), m_kindList);
    form->addRow(QStringLiteral("Promjer"), m_diameterEdit);
    form->addRow(QStringLiteral("Radijus kuta"), m_radiusEdit);
    form->addRow(QStringLiteral("Kut vrha (stupnjevi)"), m_angleEdit);
    form->addRow(QStringLiteral("Rezna duljina"), m_lengthEdit);
    form->addRow(QStringLiteral("Drska (prazno: bez)"), shankRow);
    form->addRow(QStringLiteral("Sirovac"), m_boxStock);
    form->addRow(QStringLiteral("x, y, z od / do"), corners);
    form->addRow(QString(), m_objectStock);
    exchangeToControls();
}

void GcodeSourceBox::enableToolFields() {
    const QString kind = m_kindList->currentData().toString();
    m_radiusEdit->setEnabled(kind == QLatin1String("bull"));
    m_angleEdit->setEnabled(kind == QLatin1String("drill"));
}

void GcodeSourceBox::exchangeToControls() {
    m_fileEdit->setText(m_file);
    m_kindList->setCurrentIndex(std::max(0, m_kindList->findData(m_toolKind)));
    m_diameterEdit->setText(formatDouble(m_diameter));
    m_radiusEdit->setText(formatDouble(m_cornerRadius));
    m_angleEdit->setText(formatDouble(m_tipAngle));
    m_lengthEdit->setText(formatDouble(m_fluteLength));
    const bool shank = m_shankDiameter > 0.0;
    m_shankDiameterEdit->setText(shank ? formatDouble(m_shankDiameter) : QString());
    m_shankLengthEdit->setText(shank ? formatDouble(m_shankLength) : QString());
    for (size_t i = 0; i < m_corners.size(); ++i) {
        m_cornerEdits[i]->setText(formatDouble(m_corners[i]));
    }
    (m_object1Stock ? m_objectStock : m_boxStock)->setChecked(true);
    enableToolFields();
}

std::optional<GcodeSourceBox::Refusal> GcodeSourceBox::exchangeFromControls(GcodeJob& job) {
    const auto refused = [](const Status& s, const char* name, QLineEdit* edit) {
        return Refusal{QString::fromStdString(s.message()), QString::fromLatin1(name), edit};
    };
    if (m_fileEdit->text().trimmed().isEmpty()) {
        return Refusal{QStringLiteral("Odaberite datoteku s G-kodom."), QStringLiteral("Program"),
                       m_fileEdit};
    }
    const QString kind = m_kindList->currentData().toString();
    // Only the fields the kind uses are read.
    std::pair<QLineEdit*, const char*> used[4] = {{m_diameterEdit, "Promjer"},
                                                  {m_lengthEdit, "Rezna duljina"}};
    size_t count = 2;
    if (kind == QLatin1String("bull")) {
        used[count++] = {m_radiusEdit, "Radijus kuta"};
    } else if (kind == QLatin1String("drill")) {
        used[count++] = {m_angleEdit, "Kut vrha"};
    }
    const bool withShank = !m_shankDiameterEdit->text().trimmed().isEmpty() ||
                           !m_shankLengthEdit->text().trimmed().isEmpty();
    if (withShank) {
        used[count++] = {m_shankDiameterEdit, "Drska"};
    }
    for (size_t i = 0; i < count; ++i) {
        if (!parseDouble(used[i].first->text())) {
            return Refusal{QString::fromLatin1(kEnterNumberMessage),
                           QString::fromLatin1(used[i].second), used[i].first};
        }
    }
    gcode::ToolSpec tool;
    tool.shape = kind == QLatin1String("ball")    ? gcode::ToolShape::Ball
                 : kind == QLatin1String("bull")  ? gcode::ToolShape::BullNose
                 : kind == QLatin1String("drill") ? gcode::ToolShape::Drill
                                                  : gcode::ToolShape::Flat;
    tool.diameter = *parseDouble(m_diameterEdit->text());
    tool.fluteLength = *parseDouble(m_lengthEdit->text());
    if (tool.shape == gcode::ToolShape::BullNose) {
        tool.cornerRadius = *parseDouble(m_radiusEdit->text());
    }
    if (tool.shape == gcode::ToolShape::Drill) {
        tool.tipAngle = *parseDouble(m_angleEdit->text());
    }
    if (Status s = gcode::checkTool(tool); !s) {
        return refused(s, "Alat", m_diameterEdit);
    }
    std::optional<gcode::ShankSpec> shank;
    if (withShank) {
        const std::optional<double> length = parseDouble(m_shankLengthEdit->text());
        if (!length) {
            return Refusal{QString::fromLatin1(kEnterNumberMessage), QStringLiteral("Drska"),
                           m_shankLengthEdit};
        }
        shank = gcode::ShankSpec{*parseDouble(m_shankDiameterEdit->text()), *length};
        if (Status s = gcode::checkShank(*shank); !s) {
            return refused(s, "Drska", m_shankDiameterEdit);
        }
    }
    const bool object1 = m_objectStock->isChecked();
    std::array<double, 6> corners = m_corners;
    Solid stock;
    if (!object1) {
        for (size_t i = 0; i < corners.size(); ++i) {
            const std::optional<double> v = parseDouble(m_cornerEdits[i]->text());
            if (!v) {
                return Refusal{QString::fromLatin1(kEnterNumberMessage), QStringLiteral("Sirovac"),
                               m_cornerEdits[i]};
            }
            corners[i] = *v;
        }
        const Status s = gcode::makeBoxStock({corners[0], corners[1], corners[2]},
                                             {corners[3], corners[4], corners[5]}, stock);
        if (!s) {
            return refused(s, "Sirovac", m_cornerEdits[0]);
        }
    }
    m_file = m_fileEdit->text().trimmed();
    m_toolKind = kind;
    m_diameter = tool.diameter;
    m_fluteLength = tool.fluteLength;
    m_cornerRadius = tool.shape == gcode::ToolShape::BullNose ? tool.cornerRadius : m_cornerRadius;
    m_tipAngle = tool.shape == gcode::ToolShape::Drill ? tool.tipAngle : m_tipAngle;
    m_shankDiameter = shank ? shank->diameter : 0.0;
    m_shankLength = shank ? shank->length : 0.0;
    m_object1Stock = object1;
    m_corners = corners;

    job.programPath = QFile::encodeName(m_file).toStdString();
    job.tools = gcode::ToolChoice{tool, {}, shank};
    job.object1Stock = object1;
    job.stock = std::move(stock);
    return std::nullopt;
}

void GcodeSourceBox::load(QSettings& settings) {
    m_file = settings.value(QStringLiteral("gkod/datoteka"), m_file).toString();
    const QString kind = settings.value(QStringLiteral("gkod/alat"), m_toolKind).toString();
    m_toolKind = m_kindList->findData(kind) >= 0 ? kind : m_toolKind;
    const auto number = [&settings](const char* key, double& target) {
        bool ok = false;
        const double v = settings.value(QString::fromLatin1(key)).toDouble(&ok);
        if (ok && std::isfinite(v)) {
            target = v;
        }
    };
    number("gkod/promjer", m_diameter);
    number("gkod/radijusKuta", m_cornerRadius);
    number("gkod/kutVrha", m_tipAngle);
    number("gkod/reznaDuljina", m_fluteLength);
    number("gkod/drskaPromjer", m_shankDiameter);
    number("gkod/drskaDuljina", m_shankLength);
    const char* corners[] = {"gkod/x0", "gkod/y0", "gkod/z0", "gkod/x1", "gkod/y1", "gkod/z1"};
    for (size_t i = 0; i < m_corners.size(); ++i) {
        number(corners[i], m_corners[i]);
    }
    m_object1Stock = settings.value(QStringLiteral("gkod/objekt1Sirovac"), m_object1Stock).toBool();
    exchangeToControls();
}

void GcodeSourceBox::save(QSettings& settings) const {
    settings.setValue(QStringLiteral("gkod/datoteka"), m_file);
    settings.setValue(QStringLiteral("gkod/alat"), m_toolKind);
    settings.setValue(QStringLiteral("gkod/promjer"), m_diameter);
    settings.setValue(QStringLiteral("gkod/radijusKuta"), m_cornerRadius);
    settings.setValue(QStringLiteral("gkod/kutVrha"), m_tipAngle);
    settings.setValue(QStringLiteral("gkod/reznaDuljina"), m_fluteLength);
    settings.setValue(QStringLiteral("gkod/drskaPromjer"), m_shankDiameter);
    settings.setValue(QStringLiteral("gkod/drskaDuljina"), m_shankLength);
    const char* corners[] = {"gkod/x0", "gkod/y0", "gkod/z0", "gkod/x1", "gkod/y1", "gkod/z1"};
    for (size_t i = 0; i < m_corners.size(); ++i) {
        settings.setValue(QString::fromLatin1(corners[i]), m_corners[i]);
    }
    settings.setValue(QStringLiteral("gkod/objekt1Sirovac"), m_object1Stock);
}

QString machiningReportText(const gcode::MachiningReport& r) {
    QString text = QStringLiteral("Pomaka: %1 (posmak %2, brzi hod %3)\n")
                       .arg(r.moves)
                       .arg(r.feedMoves)
                       .arg(r.rapidMoves);
    text += QStringLiteral("Uklonjeni volumen: %1\n").arg(r.removedVolume, 0, 'f', 4);
    text += QStringLiteral("Preostali volumen: %1\n").arg(r.volume, 0, 'f', 4);
    const auto seconds = static_cast<int64_t>(std::llround(r.machiningSeconds));
    text += QStringLiteral("Vrijeme obrade: %1 min %2 s\n")
                .arg(seconds / 60)
                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    text += QStringLiteral("Kolizija: %1").arg(r.collisions.size());
    // A long list would not fit a message box; the first ones tell where to look.
    constexpr size_t kShown = 20;
    for (size_t i = 0; i < r.collisions.size() && i < kShown; ++i) {
        const gcode::Collision& c = r.collisions[i];
        text += QStringLiteral("\nRedak %1: %2, volumen %3")
                    .arg(c.line)
                    .arg(QString::fromLatin1(c.kind == gcode::CollisionKind::Rapid
                                                 ? "brzi hod kroz materijal"
                                                 : "drska dotice materijal"))
                    .arg(c.volume, 0, 'g', 6);
    }
    if (r.collisions.size() > kShown) {
        text += QStringLiteral("\n... i jos %1").arg(r.collisions.size() - kShown);
    }
    return text;
}

}  // namespace korvan::app
