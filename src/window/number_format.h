#pragma once
// Numbers as the user reads and types them: fixed display patterns with the locale's
// decimal separator, and parsing that accepts the locale's decimal separator only.

#include <QLocale>
#include <QString>
#include <optional>

namespace quelvan {

// "0" is a digit always shown, "#" a digit shown only when it is not a trailing zero.
enum class NumberPattern {
    UpToTwoDecimals,  // "0.##": 50, 24,41, 0,02
    OneDecimal,       // "0.0":  25,0
    UpToOneDecimal,   // "0.#":  12, 12,5
    TwoDigits,        // "00":   07, 123
};

// Rounds to the pattern's last digit (halves to even), never groups thousands, and keeps
// the sign of negative numbers ("-4,5"); a value that rounds to zero shows without sign.
QString FormatNumber(double value, NumberPattern pattern, const QLocale& locale = QLocale());

// A decimal number written with the locale's decimal separator, surrounding spaces allowed.
// Group separators are rejected, so "1.000" in German is not a thousand; text that is not a
// finite number gives nullopt.
std::optional<double> ParseDecimal(const QString& text, const QLocale& locale = QLocale());

}  // namespace quelvan
