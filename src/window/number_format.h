#pragma once
// Numbers as the user reads and types them: fixed display patterns with the locale's
// decimal separator, and parsing that takes a comma or a point as the decimal separator.

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

// A decimal number: an optional sign, digits, and at most one decimal separator, which may
// be a comma, a point or the locale's own; surrounding spaces allowed. A typed "12,5" and
// "12.5" are the same number on every system, so there are no group separators: "1.000" is
// one. Anything else (letters, exponents, a second separator) gives nullopt.
std::optional<double> ParseDecimal(const QString& text, const QLocale& locale = QLocale());

}  // namespace quelvan
