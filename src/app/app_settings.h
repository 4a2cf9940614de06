// What the desktop program keeps between runs, in the application's QSettings (the names are
// CMainApp's; tests point QSettings at a folder of their own). A value that no longer makes
// sense is dropped quietly as it is read: a recent file that is gone, a number the dialog
// that wrote it would refuse. With nothing stored, every value is what a new window has.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "app/generator_dialog.h"
#include "meshio/edge_sampling.h"

class QSettings;

namespace korvan::app {

inline constexpr qsizetype kMaxRecentFiles = 10;

struct StoredSettings {
    QStringList recentFiles[2];  // per object, newest first
    QString folder;              // of the last file dialog
    bool closedResult = false;
    bool keepCoordinates = false;
    float samplingFactor = kDefaultSamplingFactor;
    GeneratorValues generator;
    QByteArray windowGeometry;  // empty: the window's own size
};

StoredSettings readSettings(const QSettings& settings);

void writeRecentFiles(QSettings& settings, int32_t objectNumber, const QStringList& files);
void writeFolder(QSettings& settings, const QString& folder);
void writeCheckItems(QSettings& settings, bool closedResult, bool keepCoordinates);
void writeSamplingFactor(QSettings& settings, float factor);
void writeGeneratorValues(QSettings& settings, const GeneratorValues& values);
void writeWindowGeometry(QSettings& settings, const QByteArray& geometry);

}  // namespace korvan::app
