#include "window/cell_check.h"

#include <QRegularExpression>
#include <cmath>

#include "device/numeric.h"
#include "window/number_format.h"

namespace quelvan {

namespace {

constexpr int kLastHour = 24;
constexpr int kLastMinute = 59;
constexpr int kFullPercent = 100;
// A longer list would not fit the status bar; the rest is counted.
constexpr int kCellsNamed = 4;

QString TimeText(int hour, int minute) {
    return QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
}

bool ValidTime(int hour, int minute) {
    return hour >= 0 && minute >= 0 && minute <= kLastMinute &&
           (hour < kLastHour || (hour == kLastHour && minute == 0));
}

}  // namespace

std::optional<QString> CheckedTimeCell(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch()) return std::nullopt;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (!ValidTime(hour, minute)) return std::nullopt;
    return TimeText(hour, minute);
}

std::optional<QString> CheckedPercentCell(const QString& text) {
    const std::optional<double> percent = ParseDecimal(text);
    if (!percent || !std::isfinite(*percent)) return std::nullopt;
    const long long whole = RoundHalfEven(*percent);
    if (whole < 0 || whole > kFullPercent) return std::nullopt;
    return QString::number(whole);
}

QString RefusedCellText(int column, const QString& pos, const QString& caption, const QString& typed) {
    const QString where = QStringLiteral("Pos. %1, \"%2\": \"%3\" ").arg(pos, caption, typed);
    if (column == 1)
        return where + QStringLiteral("ist keine Uhrzeit von 00:00 bis 24:00 (H:MM oder HH:MM); der alte Wert bleibt.");
    return where + QStringLiteral("ist kein Prozentwert von 0 bis 100; der alte Wert bleibt.");
}

QStringList BadCells(const std::vector<QStringList>& rows, const QStringList& captions) {
    QStringList cells;
    for (const QStringList& row : rows) {
        for (qsizetype column = 1; column < row.size(); ++column) {
            const QString& text = row[column];
            const bool good = column == 1 ? CheckedTimeCell(text).has_value() : CheckedPercentCell(text).has_value();
            if (good) continue;
            const QString caption = column - 1 < captions.size() ? captions[column - 1] : QString();
            cells << QStringLiteral("Pos. %1 \"%2\" (%3)").arg(row.front(), caption, text);
        }
    }
    return cells;
}

QString BadCellsText(const QStringList& cells) {
    QString text = QStringLiteral("ungültige Werte in ") + cells.mid(0, kCellsNamed).join(QStringLiteral(", "));
    if (cells.size() > kCellsNamed) text += QStringLiteral(" und %1 weiteren Zellen").arg(cells.size() - kCellsNamed);
    return text;
}

}  // namespace quelvan
