// "Animacija - simulacija glodanja" (template 145): the milling path per axis, the frame
// count, the output name and the image format, or a G-code program with its tool and stock.
// START and PREDPOGLED validate the fields and close the dialog with their result; the command
// then runs the animation with the dialog out of the way and, after PREDPOGLED, shows it again.
// The values stay for the next opening, and the last valid ones for the next session (settings
// group "Animacija"); the format (BMP) and the motion kinds (linear) are reset at each opening.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>

#include "app/gcode_source.h"
#include "scene/animation.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QLineEdit;
class QRadioButton;

namespace korvan::app {

class CSceneView;
class Prompts;

class CAnimator : public QDialog {
public:
    CAnimator(Prompts& prompts, QWidget* parent);

    // The dialog's result after PREDPOGLED (its button id); START gives Accepted.
    static constexpr int kPreviewResult = 3;

    QComboBox* m_formatList;
    int32_t m_imageCount = 1;
    int32_t m_xSinus = 0;
    int32_t m_ySinus = 0;
    int32_t m_zSinus = 0;
    float m_xStep = 0.0f, m_yStep = 0.0f, m_zStep = 0.0f;
    float m_xAmplitude = 0.0f, m_yAmplitude = 0.0f, m_zAmplitude = 0.0f;
    int32_t m_xStartAngle = 0, m_yStartAngle = 0, m_zStartAngle = 0;
    int32_t m_xAngleStep = 0, m_yAngleStep = 0, m_zAngleStep = 0;
    QLineEdit* m_outputEdit;
    QString m_outputFile;
    QString m_format = QStringLiteral("GIF");
    // 1: the path is a G-code program ("G-kod"); 0: the motions per axis.
    int32_t m_source = 0;
    // "Rezanje duz putanje": the tool cuts along the path between frames (closed engine).
    bool m_sweep = false;
    GcodeSourceBox* m_gcode = nullptr;

    // The opening: fields from the members, format list BMP/GIF/JPG with BMP chosen, all
    // axes linear. Called before every showing.
    void OnInitDialog();
    // Fields to controls, and back with validation (false: a prompt was shown, the field has
    // the focus, the members read so far are kept).
    void exchangeToControls();
    bool exchangeFromControls();

    void OnLinear(int axis);
    void OnSinus(int axis);
    void OnFormatChanged();
    void OnBrowse();
    void OnPreview();
    void OnStart();
    void OnSourceChanged();
    void OnBrowseGcode();

    // Cutting along the path is offered only with the closed engine.
    void setSweepAvailable(bool available);
    // The G-code run START asked for, checked.
    const GcodeJob& gcodeJob() const { return m_job; }

    AnimationSettings settings(int32_t preview) const;
    QRadioButton* radio(int axis, bool sinus) const;
    QLineEdit* countEdit() const { return m_countEdit; }
    void setPrompts(Prompts& prompts) { m_prompts = &prompts; }

private:
    void enableAxisFields(int axis, bool sinus);
    void loadSettings();
    void saveSettings() const;
    struct AxisFields {
        QRadioButton* linear;
        QRadioButton* sinus;
        QLineEdit* step;
        QLineEdit* amplitude;
        QLineEdit* angleStep;
        QLineEdit* startAngle;
    };
    Prompts* m_prompts;
    std::array<AxisFields, 3> m_axes{};
    std::array<QGroupBox*, 3> m_axisGroups{};
    QLineEdit* m_countEdit;
    QRadioButton* m_axesSource = nullptr;
    QRadioButton* m_gcodeSource = nullptr;
    QCheckBox* m_sweepCheck = nullptr;
    QPushButton* m_previewButton = nullptr;
    QPushButton* m_browseButton = nullptr;
    bool m_sweepAvailable = true;
    GcodeJob m_job;
};

}  // namespace korvan::app
