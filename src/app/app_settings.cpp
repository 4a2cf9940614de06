#include "app/app_settings.h"

#include <QFileInfo>
#include <QSettings>

#include <cmath>
#include <optional>

#include "app/number_fields.h"

namespace korvan::app {
namespace {

constexpr const char* kRecentKeys[2] = {"Datoteke/NedavneObjekt1", "Datoteke/NedavneObjekt2"};
constexpr const char* kFolderKey = "Datoteke/Mapa";
constexpr const char* kClosedKey = "Akcije/ZatvoreniRezultat";
constexpr const char* kKeepKey = "Akcije/ZadrziKoordinate";
constexpr const char* kFactorKey = "Akcije/FaktorUzorkovanja";
constexpr const char* kShapeKey = "Generator/Oblik";
constexpr const char* kShapeKeys[5] = {"Generator/Kugla", "Generator/Kocka", "Generator/Kvadar",
                                       "Generator/Valjak", "Generator/Stozac"};
constexpr const char* kGeometryKey = "Prozor/Geometrija";

QString key(const char* name) {
    return QString::fromLatin1(name);
}

// Only what was written as a truth value counts; anything else keeps the default.
bool readBool(const QSettings& settings, const char* name, bool fallback) {
    const QString text = settings.value(key(name)).toString();
    if (text == QLatin1String("true")) {
        return true;
    }
    return text == QLatin1String("false") ? false : fallback;
}

// Numbers are kept as the fields show them, with a full stop whatever the locale.
std::optional<float> readFloat(const QSettings& settings, const char* name) {
    const std::optional<float> v = parseFloat(settings.value(key(name)).toString());
    return v && std::isfinite(*v) ? v : std::nullopt;
}

QString parametersText(const PrimitiveParameters& p) {
    return QStringList{formatInteger(p.m), formatInteger(p.n), formatFloat(p.a), formatFloat(p.b),
                       formatFloat(p.c)}
        .join(QLatin1Char(' '));
}

std::optional<PrimitiveParameters> readParameters(const QString& text, Shape shape) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 5) {
        return std::nullopt;
    }
    const auto m = parseInteger(parts[0]);
    const auto n = parseInteger(parts[1]);
    const auto a = parseFloat(parts[2]);
    const auto b = parseFloat(parts[3]);
    const auto c = parseFloat(parts[4]);
    if (!m || !n || !a || !b || !c) {
        return std::nullopt;
    }
    const PrimitiveParameters p{shape, *m, *n, *a, *b, *c};
    // The generator would refuse it: its first start's values are better than a refusal.
    if (firstInvalidField(p)) {
        return std::nullopt;
    }
    return p;
}

}  // namespace

StoredSettings readSettings(const QSettings& settings) {
    StoredSettings s;
    for (int n = 0; n < 2; ++n) {
        for (const QString& path : settings.value(key(kRecentKeys[n])).toStringList()) {
            if (s.recentFiles[n].size() < kMaxRecentFiles && !path.isEmpty() &&
                !s.recentFiles[n].contains(path) && QFileInfo(path).isFile()) {
                s.recentFiles[n] << path;
            }
        }
    }
    const QString folder = settings.value(key(kFolderKey)).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        s.folder = folder;
    }
    s.closedResult = readBool(settings, kClosedKey, s.closedResult);
    s.keepCoordinates = readBool(settings, kKeepKey, s.keepCoordinates);
    if (const std::optional<float> factor = readFloat(settings, kFactorKey)) {
        s.samplingFactor = *factor;
    }
    bool shapeOk = false;
    const int shape = settings.value(key(kShapeKey)).toInt(&shapeOk);
    if (shapeOk && shape >= 0 && shape < 5) {
        s.generator.shape = static_cast<Shape>(shape);
    }
    for (int i = 0; i < 5; ++i) {
        const std::optional<PrimitiveParameters> p =
            readParameters(settings.value(key(kShapeKeys[i])).toString(), static_cast<Shape>(i));
        if (p) {
            s.generator.perShape[static_cast<size_t>(i)] = *p;
        }
    }
    s.windowGeometry = settings.value(key(kGeometryKey)).toByteArray();
    return s;
}

void writeRecentFiles(QSettings& settings, int32_t objectNumber, const QStringList& files) {
    settings.setValue(key(kRecentKeys[objectNumber == 1 ? 0 : 1]), files.mid(0, kMaxRecentFiles));
}

void writeFolder(QSettings& settings, const QString& folder) {
    settings.setValue(key(kFolderKey), folder);
}

void writeCheckItems(QSettings& settings, bool closedResult, bool keepCoordinates) {
    settings.setValue(key(kClosedKey), closedResult);
    settings.setValue(key(kKeepKey), keepCoordinates);
}

void writeSamplingFactor(QSettings& settings, float factor) {
    settings.setValue(key(kFactorKey), formatFloat(factor));
}

void writeGeneratorValues(QSettings& settings, const GeneratorValues& values) {
    settings.setValue(key(kShapeKey), static_cast<int>(values.shape));
    for (size_t i = 0; i < values.perShape.size(); ++i) {
        settings.setValue(key(kShapeKeys[i]), parametersText(values.perShape[i]));
    }
}

void writeWindowGeometry(QSettings& settings, const QByteArray& geometry) {
    settings.setValue(key(kGeometryKey), geometry);
}

}  // namespace korvan::app
