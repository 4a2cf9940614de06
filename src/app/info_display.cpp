#include "app/info_display.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "geometry/mesh_topology.h"
#include "geometry/statistics.h"

namespace korvan::app {
namespace {

QString number(double value) {
    return QString::number(value, 'g', 6);
}

QString point(const Vector4& p) {
    return QStringLiteral("(%1, %2, %3)").arg(number(p.x), number(p.y), number(p.z));
}

}  // namespace

QString objectInfoText(const Solid& object1, const Solid& object2) {
    if (object1.loaded == 0 && object2.loaded == 0) {
        return QString::fromStdString(objectStatistics(object1, object2));
    }
    const QString newline = QStringLiteral("\r\n");
    const Solid none;
    QString text;
    for (const Solid* solid : {&object1, &object2}) {
        if (solid->loaded == 0) {
            continue;
        }
        // The counts' section as the core writes it, without its closing empty line.
        const std::string counts =
            solid == &object1 ? objectStatistics(object1, none) : objectStatistics(none, object2);
        text += QString::fromStdString(counts).chopped(newline.size());
        const MeshTopology topology = analyzeTopology(*solid);
        const bool closed = topology.openEdges == 0 && topology.nonManifoldEdges == 0;
        text +=
            QStringLiteral("Okvir: %1 - %2").arg(point(solid->minCorner), point(solid->maxCorner)) +
            newline;
        text += QStringLiteral("Volumen: %1").arg(number(topology.signedVolume)) + newline;
        text += QStringLiteral("Zatvoreno: %1")
                    .arg(closed ? QStringLiteral("da") : QStringLiteral("ne")) +
                newline;
        text += QStringLiteral("Otvoreni bridovi: %1, nemnogostruki bridovi: %2")
                    .arg(topology.openEdges)
                    .arg(topology.nonManifoldEdges) +
                newline + newline;
    }
    return text;
}

CinfoDisplay::CinfoDisplay(QWidget* parent) : QDialog(parent), m_edit(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("CinfoDisplay"));
    setWindowTitle(QStringLiteral("Informacije o objektima"));
    m_edit->setObjectName(QStringLiteral("1000"));
    m_edit->setReadOnly(true);
    m_edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* ok = new QPushButton(QStringLiteral("U redu"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_edit);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    resize(460, 300);
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
