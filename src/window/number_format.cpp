#include "window/number_format.h"

#include <cmath>

#include "device/numeric.h"
#include "device/temperature_text.h"

namespace quelvan {

namespace {

struct PatternShape {
    int minIntegerDigits;
    int minDecimals;
    int maxDecimals;
};

PatternShape ShapeOf(NumberPattern pattern) {
    switch (pattern) {
        case NumberPattern::UpToTwoDecimals:
            return {1, 0, 2};
        case NumberPattern::OneDecimal:
            return {1, 1, 1};
        case NumberPattern::UpToOneDecimal:
            return {1, 0, 1};
        case NumberPattern::TwoDigits:
            return {2, 0, 0};
    }
    return {1, 0, 2};
}

// Beyond this the scaled value no longer fits the integer rounding below exactly.
constexpr double kLargestScaled = 1e15;

}  // namespace

QString FormatNumber(double value, NumberPattern pattern, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    if (!std::isfinite(value)) return plain.toString(value);

    const PatternShape shape = ShapeOf(pattern);
    const double scale = std::pow(10.0, shape.maxDecimals);
    QString text;
    if (std::fabs(value * scale) < kLargestScaled) {
        // Round once, in integers, so that halves go to even on the shown digit.
        const long long scaled = RoundHalfEven(value * scale);
        text = plain.toString(static_cast<double>(scaled) / scale, 'f', shape.maxDecimals);
    } else {
        text = plain.toString(value, 'f', shape.maxDecimals);
    }

    const QString point = plain.decimalPoint();
    const QString zero = plain.zeroDigit();
    const QString minus = plain.negativeSign();
    if (shape.maxDecimals > shape.minDecimals) {
        // Drop optional trailing zeros, and the separator when no decimal is left.
        const qsizetype pointAt = text.indexOf(point);
        if (pointAt >= 0) {
            qsizetype end = text.size();
            const qsizetype keep = pointAt + point.size() + shape.minDecimals * zero.size();
            while (end - zero.size() >= keep && QStringView(text).mid(end - zero.size(), zero.size()) == zero)
                end -= zero.size();
            if (end == pointAt + point.size()) end = pointAt;
            text.truncate(end);
        }
    }

    bool negative = text.startsWith(minus);
    if (negative) text.remove(0, minus.size());
    // "-0" and "-0,00" are zero: show them without a sign.
    QString digitsOnly = text;
    digitsOnly.remove(point).remove(zero);
    if (digitsOnly.isEmpty()) negative = false;

    const qsizetype pointAt = text.indexOf(point);
    const qsizetype integerChars = pointAt >= 0 ? pointAt : text.size();
    const qsizetype integerDigits = integerChars / zero.size();
    for (qsizetype i = integerDigits; i < shape.minIntegerDigits; ++i) text.prepend(zero);
    if (negative) text.prepend(minus);
    return text;
}

std::optional<double> ParseDecimal(const QString& text, const QLocale& locale) {
    QString plain = text.trimmed();
    plain.replace(locale.decimalPoint(), QStringLiteral("."));
    plain.replace(QLatin1Char(','), QLatin1Char('.'));
    return ParseDecimalNumber(plain.toStdString(), ".");
}

}  // namespace quelvan
