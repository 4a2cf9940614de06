#include "app/animator_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

#include <initializer_list>
#include <memory>
#include <optional>

#include "app/number_fields.h"
#include "app/prompts.h"
#include "app/scene_view.h"
#include "image/image.h"

namespace korvan::app {
namespace {

constexpr const char* kCountMessage = "Unesite cijeli broj izmedu 1 i 1000.";
constexpr const char* kMotionLimitMessage = "Unesite broj izmedu -1000000 i 1000000.";

// Control ids per axis: radios Linearno/Sinusno, edits Korak, Amplituda, Inkrement kuta,
// Pocetni kut.
struct AxisIds {
    int linear, sinus, step, amplitude, angleStep, startAngle;
};
constexpr AxisIds kAxisIds[3] = {{1016, 1017, 1022, 1026, 1027, 1028},
                                 {1018, 1019, 1023, 1029, 1030, 1031},
                                 {1020, 1021, 1024, 1032, 1033, 1034}};
constexpr const char* kAxisTitles[3] = {"Pomak po x osi", "Pomak po y osi", "Pomak po z osi"};

template <typename W>
W* named(W* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

}  // namespace

CAnimator::CAnimator(Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      m_formatList(named(new QComboBox(this), 1037)),
      m_outputEdit(named(new QLineEdit(this), 1035)),
      m_prompts(&prompts),
      m_countEdit(named(new QLineEdit(this), 1025)) {
    setObjectName(QStringLiteral("CAnimator"));
    setWindowTitle(QStringLiteral("Animacija - simulacija glodanja"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("VAŽNO: Postavite objekte u početni položaj prije početka animacije!"),
        this));
    m_axesSource = new QRadioButton(QStringLiteral("Pomak po osima"), this);
    m_gcodeSource = new QRadioButton(QStringLiteral("G-kod"), this);
    m_axesSource->setObjectName(QStringLiteral("axesSource"));
    m_gcodeSource->setObjectName(QStringLiteral("gcodeSourceChoice"));
    connect(m_axesSource, &QRadioButton::toggled, this, [this] { OnSourceChanged(); });
    auto* sourceRow = new QHBoxLayout();
    sourceRow->addWidget(new QLabel(QStringLiteral("Putanja:"), this));
    sourceRow->addWidget(m_axesSource);
    sourceRow->addWidget(m_gcodeSource);
    sourceRow->addStretch(1);
    layout->addLayout(sourceRow);

    auto* axesRow = new QHBoxLayout();
    for (int axis = 0; axis < 3; ++axis) {
        const AxisIds& ids = kAxisIds[axis];
        auto* group = new QGroupBox(QString::fromLatin1(kAxisTitles[axis]), this);
        m_axisGroups[static_cast<size_t>(axis)] = group;
        AxisFields& f = m_axes[static_cast<size_t>(axis)];
        f.linear = named(new QRadioButton(QStringLiteral("Linearno"), group), ids.linear);
        f.sinus = named(new QRadioButton(QStringLiteral("Sinusno"), group), ids.sinus);
        f.step = named(new QLineEdit(group), ids.step);
        f.amplitude = named(new QLineEdit(group), ids.amplitude);
        f.angleStep = named(new QLineEdit(group), ids.angleStep);
        f.startAngle = named(new QLineEdit(group), ids.startAngle);
        connect(f.linear, &QRadioButton::clicked, this, [this, axis] { OnLinear(axis); });
        connect(f.sinus, &QRadioButton::clicked, this, [this, axis] { OnSinus(axis); });
        auto* radios = new QHBoxLayout();
        radios->addWidget(f.linear);
        radios->addWidget(f.sinus);
        auto* form = new QFormLayout(group);
        form->addRow(radios);
        form->addRow(QStringLiteral("Korak"), f.step);
        form->addRow(QStringLiteral("Amplituda"), f.amplitude);
        form->addRow(QStringLiteral("Inkrement kuta"), f.angleStep);
        form->addRow(QStringLiteral("Pocetni kut"), f.startAngle);
        axesRow->addWidget(group);
    }
    layout->addLayout(axesRow);
    m_sweepCheck = new QCheckBox(QStringLiteral("Rezanje duz putanje"), this);
    m_sweepCheck->setObjectName(QStringLiteral("sweepCheck"));
    layout->addWidget(m_sweepCheck);

    auto* browse = named(new QPushButton(QStringLiteral("Potraži..."), this), 1036);
    m_browseButton = browse;
    connect(browse, &QPushButton::clicked, this, &CAnimator::OnBrowse);
    auto* output = new QHBoxLayout();
    output->addWidget(m_outputEdit, 1);
    output->addWidget(browse);
    connect(m_formatList, &QComboBox::currentIndexChanged, this, [this] { OnFormatChanged(); });
    auto* form = new QFormLayout();
    form->addRow(QStringLiteral("Broj slika"), m_countEdit);
    form->addRow(QStringLiteral("Izlazna datoteka"), output);
    form->addRow(QStringLiteral("Format zapisa"), m_formatList);
    layout->addLayout(form);
    m_gcode = new GcodeSourceBox(this);
    m_gcode->onBrowse = [this] { OnBrowseGcode(); };
    layout->addWidget(m_gcode);

    auto* preview = named(new QPushButton(QStringLiteral("PREDPOGLED"), this), 3);
    m_previewButton = preview;
    auto* start = named(new QPushButton(QStringLiteral("START"), this), 1);
    auto* cancel = named(new QPushButton(QStringLiteral("ODUSTANI"), this), 2);
    start->setDefault(true);
    connect(preview, &QPushButton::clicked, this, &CAnimator::OnPreview);
    connect(start, &QPushButton::clicked, this, &CAnimator::OnStart);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(preview);
    buttons->addStretch(1);
    buttons->addWidget(start);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    loadSettings();
    exchangeToControls();
}

void CAnimator::OnInitDialog() {
    exchangeToControls();
    // The list sorts its entries, so GIF, JPG, BMP show as BMP, GIF, JPG.
    const QSignalBlocker block(m_formatList);
    m_formatList->clear();
    QStringList formats{QStringLiteral("GIF"), QStringLiteral("JPG"), QStringLiteral("BMP")};
    formats.sort();
    m_formatList->addItems(formats);
    m_formatList->setCurrentIndex(0);
    for (int axis = 0; axis < 3; ++axis) {
        OnLinear(axis);
    }
    m_format = m_formatList->currentText();
}

void CAnimator::exchangeToControls() {
    const float* steps[] = {&m_xStep, &m_yStep, &m_zStep};
    const float* amplitudes[] = {&m_xAmplitude, &m_yAmplitude, &m_zAmplitude};
    const int32_t* angleSteps[] = {&m_xAngleStep, &m_yAngleStep, &m_zAngleStep};
    const int32_t* startAngles[] = {&m_xStartAngle, &m_yStartAngle, &m_zStartAngle};
    const int32_t* sinus[] = {&m_xSinus, &m_ySinus, &m_zSinus};
    for (size_t a = 0; a < 3; ++a) {
        const AxisFields& f = m_axes[a];
        f.step->setText(formatFloat(*steps[a]));
        f.amplitude->setText(formatFloat(*amplitudes[a]));
        f.angleStep->setText(formatInteger(*angleSteps[a]));
        f.startAngle->setText(formatInteger(*startAngles[a]));
        (*sinus[a] != 0 ? f.sinus : f.linear)->setChecked(true);
    }
    m_countEdit->setText(formatInteger(m_imageCount));
    m_outputEdit->setText(m_outputFile);
    m_sweepCheck->setChecked(m_sweep);
    (m_source == 1 ? m_gcodeSource : m_axesSource)->setChecked(true);
    m_gcode->exchangeToControls();
    OnSourceChanged();
}

bool CAnimator::exchangeFromControls() {
    if (m_gcodeSource->isChecked()) {
        if (const auto refusal = m_gcode->exchangeFromControls(m_job)) {
            m_prompts->message(this,
                               QStringLiteral("%1\nPolje: %2").arg(refusal->text, refusal->field),
                               {}, Prompts::Icon::Information);
            refusal->edit->setFocus();
            refusal->edit->selectAll();
            return false;
        }
        m_source = 1;
        saveSettings();
        return true;
    }
    // The message names the field: the rows of the three axes look alike.
    const auto refuse = [this](QLineEdit* edit, const char* text) {
        QString field = QStringLiteral("Broj slika");
        for (size_t a = 0; a < m_axes.size(); ++a) {
            const AxisFields& f = m_axes[a];
            const char* name = edit == f.step         ? "Korak"
                               : edit == f.amplitude  ? "Amplituda"
                               : edit == f.angleStep  ? "Inkrement kuta"
                               : edit == f.startAngle ? "Pocetni kut"
                                                      : nullptr;
            if (name != nullptr) {
                field = QStringLiteral("%1 (%2 os)")
                            .arg(QString::fromLatin1(name))
                            .arg(QLatin1Char(static_cast<char>('x' + a)));
            }
        }
        m_prompts->message(this,
                           QStringLiteral("%1\nPolje: %2").arg(QString::fromUtf8(text), field), {},
                           Prompts::Icon::Information);
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    const std::optional<int32_t> count = parseInteger(m_countEdit->text());
    if (!count || *count < 1 || *count > 1000) {
        return refuse(m_countEdit, count ? kCountMessage : kEnterIntegerMessage);
    }
    m_imageCount = *count;
    float* steps[] = {&m_xStep, &m_yStep, &m_zStep};
    float* amplitudes[] = {&m_xAmplitude, &m_yAmplitude, &m_zAmplitude};
    for (auto [members, field] :
         {std::pair{steps, &AxisFields::step}, std::pair{amplitudes, &AxisFields::amplitude}}) {
        for (size_t a = 0; a < 3; ++a) {
            QLineEdit* edit = m_axes[a].*field;
            const std::optional<float> v = parseFloat(edit->text());
            if (!v) {
                return refuse(edit, kEnterNumberMessage);
            }
            if (!withinMotionLimit(*v)) {
                return refuse(edit, kMotionLimitMessage);
            }
            *members[a] = *v;
        }
    }
    int32_t* startAngles[] = {&m_xStartAngle, &m_yStartAngle, &m_zStartAngle};
    int32_t* angleSteps[] = {&m_xAngleStep, &m_yAngleStep, &m_zAngleStep};
    for (auto [members, field] : {std::pair{startAngles, &AxisFields::startAngle},
                                  std::pair{angleSteps, &AxisFields::angleStep}}) {
        for (size_t a = 0; a < 3; ++a) {
            QLineEdit* edit = m_axes[a].*field;
            const std::optional<int32_t> v = parseInteger(edit->text());
            if (!v) {
                return refuse(edit, kEnterIntegerMessage);
            }
            if (!withinMotionLimit(*v)) {
                return refuse(edit, kMotionLimitMessage);
            }
            *members[a] = *v;
        }
    }
    m_outputFile = m_outputEdit->text();
    m_sweep = m_sweepCheck->isChecked();
    m_source = 0;
    saveSettings();
    return true;
}

QRadioButton* CAnimator::radio(int axis, bool sinus) const {
    const AxisFields& f = m_axes[static_cast<size_t>(axis)];
    return sinus ? f.sinus : f.linear;
}

void CAnimator::enableAxisFields(int axis, bool sinus) {
    // Only the fields of the chosen motion are read by a run.
    const AxisFields& f = m_axes[static_cast<size_t>(axis)];
    f.step->setEnabled(!sinus);
    f.amplitude->setEnabled(sinus);
    f.angleStep->setEnabled(sinus);
    f.startAngle->setEnabled(sinus);
}

void CAnimator::OnLinear(int axis) {
    radio(axis, false)->setChecked(true);
    (axis == 0 ? m_xSinus : axis == 1 ? m_ySinus : m_zSinus) = 0;
    enableAxisFields(axis, false);
}

void CAnimator::OnSinus(int axis) {
    radio(axis, true)->setChecked(true);
    (axis == 0 ? m_xSinus : axis == 1 ? m_ySinus : m_zSinus) = 1;
    enableAxisFields(axis, true);
}

void CAnimator::OnFormatChanged() {
    m_format = m_formatList->currentText();
}

void CAnimator::OnBrowse() {
    const QString path = m_prompts->saveFileName(this, QString(), QString(), QString());
    if (path.isEmpty()) {
        return;
    }
    m_outputFile = path;
    exchangeToControls();
}

void CAnimator::OnPreview() {
    if (exchangeFromControls()) {
        done(kPreviewResult);
    }
}

void CAnimator::OnStart() {
    if (exchangeFromControls()) {
        accept();
    }
}

void CAnimator::OnSourceChanged() {
    // Only the chosen source's fields are read by a run; a G-code run writes no frames.
    const bool axes = m_axesSource->isChecked();
    for (QGroupBox* group : m_axisGroups) {
        group->setEnabled(axes);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{m_countEdit, m_outputEdit, m_formatList,
                                                      m_browseButton, m_previewButton}) {
        if (w != nullptr) {
            w->setEnabled(axes);
        }
    }
    m_sweepCheck->setEnabled(axes && m_sweepAvailable);
    m_gcode->setEnabled(!axes);
}

void CAnimator::OnBrowseGcode() {
    const QString path = m_prompts->openFileName(
        this, QString(),
        QStringLiteral("G-kod (*.nc *.NC *.ngc *.NGC *.gcode *.GCODE *.tap *.TAP *.cnc *.CNC);;"
                       "Sve datoteke (*)"));
    if (!path.isEmpty()) {
        m_gcode->findChild<QLineEdit*>(QStringLiteral("gcodeFile"))->setText(path);
    }
}

void CAnimator::setSweepAvailable(bool available) {
    m_sweepAvailable = available;
    m_sweepCheck->setToolTip(available ? QString()
                                       : QStringLiteral("Samo uz \"Zatvoreni rezultat\""));
    OnSourceChanged();
}

void CAnimator::loadSettings() {
    QSettings settings;
    settings.beginGroup(QStringLiteral("Animacija"));
    // A value that is missing or would not pass the dialog's own checks keeps the default.
    const auto integer = [&settings](const char* key, int32_t& target, int64_t low, int64_t high) {
        bool ok = false;
        const qlonglong v = settings.value(QString::fromLatin1(key)).toLongLong(&ok);
        if (ok && v >= low && v <= high) {
            target = static_cast<int32_t>(v);
        }
    };
    const auto number = [&settings](const char* key, float& target) {
        bool ok = false;
        const float v = settings.value(QString::fromLatin1(key)).toFloat(&ok);
        if (ok && withinMotionLimit(v)) {
            target = v;
        }
    };
    integer("brojSlika", m_imageCount, 1, 1000);
    m_outputFile = settings.value(QStringLiteral("izlaznaDatoteka"), m_outputFile).toString();
    constexpr auto kLimit = static_cast<int64_t>(kMotionLimit);
    number("x/korak", m_xStep);
    number("y/korak", m_yStep);
    number("z/korak", m_zStep);
    number("x/amplituda", m_xAmplitude);
    number("y/amplituda", m_yAmplitude);
    number("z/amplituda", m_zAmplitude);
    integer("x/pocetniKut", m_xStartAngle, -kLimit, kLimit);
    integer("y/pocetniKut", m_yStartAngle, -kLimit, kLimit);
    integer("z/pocetniKut", m_zStartAngle, -kLimit, kLimit);
    integer("x/inkrementKuta", m_xAngleStep, -kLimit, kLimit);
    integer("y/inkrementKuta", m_yAngleStep, -kLimit, kLimit);
    integer("z/inkrementKuta", m_zAngleStep, -kLimit, kLimit);
    m_sweep = settings.value(QStringLiteral("rezanjeDuzPutanje"), m_sweep).toBool();
    integer("izvor", m_source, 0, 1);
    m_gcode->load(settings);
}

void CAnimator::saveSettings() const {
    QSettings settings;
    settings.beginGroup(QStringLiteral("Animacija"));
    settings.setValue(QStringLiteral("brojSlika"), m_imageCount);
    settings.setValue(QStringLiteral("izlaznaDatoteka"), m_outputFile);
    const float* steps[] = {&m_xStep, &m_yStep, &m_zStep};
    const float* amplitudes[] = {&m_xAmplitude, &m_yAmplitude, &m_zAmplitude};
    const int32_t* startAngles[] = {&m_xStartAngle, &m_yStartAngle, &m_zStartAngle};
    const int32_t* angleSteps[] = {&m_xAngleStep, &m_yAngleStep, &m_zAngleStep};
    for (size_t a = 0; a < 3; ++a) {
        const QString axis = QString(QLatin1Char(static_cast<char>('x' + a)));
        settings.setValue(axis + QStringLiteral("/korak"), *steps[a]);
        settings.setValue(axis + QStringLiteral("/amplituda"), *amplitudes[a]);
        settings.setValue(axis + QStringLiteral("/pocetniKut"), *startAngles[a]);
        settings.setValue(axis + QStringLiteral("/inkrementKuta"), *angleSteps[a]);
    }
    settings.setValue(QStringLiteral("rezanjeDuzPutanje"), m_sweep);
    settings.setValue(QStringLiteral("izvor"), m_source);
    m_gcode->save(settings);
}

AnimationSettings CAnimator::settings(int32_t preview) const {
    AnimationSettings s;
    s.preview = preview;
    s.x = {m_xSinus, m_xStep, m_xAmplitude, m_xStartAngle, m_xAngleStep};
    s.y = {m_ySinus, m_yStep, m_yAmplitude, m_yStartAngle, m_yAngleStep};
    s.z = {m_zSinus, m_zStep, m_zAmplitude, m_zStartAngle, m_zAngleStep};
    s.outputFile = QFile::encodeName(m_outputFile).toStdString();
    s.format = m_format.toStdString();
    s.frameCount = m_imageCount;
    s.sweep = m_sweep && m_sweepAvailable;
    return s;
}

}  // namespace korvan::app
