// Reading and writing the number fields of dialogs: read as every typed number is (the core's
// parseFloat and parseInt), also with the decimal comma a Croatian keyboard types, and written
// with the full stop whatever the locale.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

class QLineEdit;

namespace korvan::app {

std::optional<int32_t> parseInteger(const QString& text);
// "1,5" reads as "1.5"; a text with both a comma and a full stop ("1,000.5") is refused.
std::optional<float> parseFloat(const QString& text);

QString formatInteger(int32_t value);
// Shortest text that reads back as the same float.
QString formatFloat(float value);

// The count with its noun in the Croatian plural: 1, 21 "slika"; 2-4, 22-24 "slike"; 0, 5-20,
// 25 "slika" (`one`, `few`, `many`; 11-14 take `many`).
QString countedNoun(int64_t count, const char* one, const char* few, const char* many);

// The prompts shown when a field cannot be converted.
inline constexpr const char* kEnterIntegerMessage = "Unesite cijeli broj.";
inline constexpr const char* kEnterNumberMessage = "Unesite broj.";

}  // namespace korvan::app
