// Reading and writing the number fields of dialogs: always the full stop, whatever the
// locale; "nan", "inf" and trailing text are refused.
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
