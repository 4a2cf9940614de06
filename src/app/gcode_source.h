// The animation dialog's second path source, "G-kod": a program file, the tool that runs it
// (kind and numbers as the command line's --tool and --shank take them) and the stock (a box
// from corner to corner, or object 1 as it stands). The run itself is the view's.
#pragma once

#include <QGroupBox>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "gcode/machining.h"
#include "gcode/tools.h"
#include "geometry/solid.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSettings;

namespace korvan::app {

// What a G-code run needs, checked.
struct GcodeJob {
    std::string programPath;
    gcode::ToolChoice tools;
    bool object1Stock = false;
    Solid stock;  // the box, unless object 1 is the stock
};

class GcodeSourceBox : public QGroupBox {
public:
    explicit GcodeSourceBox(QWidget* parent);

    // The last values read, for the next opening and the next session.
    QString m_file;
    QString m_toolKind = QStringLiteral("flat");
    // Diameter, corner radius (bull), tip angle (drill), flute length; shank diameter and
    // length (0: no shank); the stock's corners x0, y0, z0, x1, y1, z1.
    double m_diameter = 6.0, m_cornerRadius = 1.0, m_tipAngle = 118.0, m_fluteLength = 20.0;
    double m_shankDiameter = 0.0, m_shankLength = 0.0;
    std::array<double, 6> m_corners{0.0, 0.0, -20.0, 100.0, 60.0, 0.0};
    bool m_object1Stock = false;

    // Members to the controls.
    void exchangeToControls();
    // A field that could not be read: the prompt's text, the field's name and the control.
    struct Refusal {
        QString text;
        QString field;
        QLineEdit* edit;
    };
    // The controls to the members and a job, checked as the command line checks them; on a
    // refusal the members read so far are kept.
    std::optional<Refusal> exchangeFromControls(GcodeJob& job);

    // Set by the dialog: "Potrazi..." beside the file.
    std::function<void()> onBrowse;

    void load(QSettings& settings);
    void save(QSettings& settings) const;

private:
    void enableToolFields();

    QLineEdit* m_fileEdit;
    QComboBox* m_kindList;
    QLineEdit* m_diameterEdit;
    QLineEdit* m_radiusEdit;
    QLineEdit* m_angleEdit;
    QLineEdit* m_lengthEdit;
    QLineEdit* m_shankDiameterEdit;
    QLineEdit* m_shankLengthEdit;
    QRadioButton* m_boxStock;
    QRadioButton* m_objectStock;
    std::array<QLineEdit*, 6> m_cornerEdits{};
};

// The report box's text after a run: the summary, then the collisions by line.
QString machiningReportText(const gcode::MachiningReport& report);

}  // namespace korvan::app
