// Reading and writing the number fields of dialogs: read as every typed number is (the core's
// parseFloat and parseInt), written with the full stop whatever the locale.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

class QLineEdit;

namespace korvan::app {

std::optional<int32_t> parseInteger(const QString& text);
std::optional<float> parseFloat(const QString& text);

QString formatInteger(int32_t value);
// Shortest text that reads back as the same float.
QString formatFloat(float value);

// The prompts shown when a field cannot be converted.
inline constexpr const char* kEnterIntegerMessage = "Unesite cijeli broj.";
inline constexpr const char* kEnterNumberMessage = "Unesite broj.";

}  // namespace korvan::app
