#include <algorithm>
#include <cmath>
#include <set>

#include "sun/daylight.h"

namespace quelvan::sun {

namespace {

constexpr int kDay = 1440;

// The curve at whole board minutes in points of the brightest channel, periodic over the day.
class MinuteCurve {
public:
    MinuteCurve(const DaylightCurve& curve, double top) : points_(kDay) {
        for (int m = 0; m < kDay; ++m)
            points_[static_cast<std::size_t>(m)] = top * curve.Sample(m * DaylightCurve::kSamplesPerMinute);
    }
    double At(int minute) const { return points_[static_cast<std::size_t>(((minute % kDay) + kDay) % kDay)]; }
    double Row(int minute) const { return std::nearbyint(At(minute)); }

    // The largest difference over (a, b) between the straight line of the rows at a and b
    // and the curve, and at the rows themselves (their rounding).
    double SegmentError(int a, int b) const {
        const double va = Row(a), vb = Row(b);
        double worst = std::max(std::abs(va - At(a)), std::abs(vb - At(b)));
        for (int m = a + 1; m < b; ++m) worst = std::max(worst, std::abs(va + (vb - va) * (m - a) / (b - a) - At(m)));
        return worst;
    }
    bool Dark(int a, int b) const {
        for (int m = a; m <= b; ++m)
            if (At(m) > 0) return false;
        return true;
    }

private:
    std::vector<double> points_;
};

// The rows that must be there: where the dark begins and ends, and the edges of a pause.
std::vector<int> Anchors(const MinuteCurve& points, const DaylightOptions& options) {
    std::set<int> anchors;
    for (int m = 0; m < kDay; ++m) {
        const bool dark = points.At(m) <= 0;
        if (dark && points.At(m - 1) > 0) anchors.insert(m);
        if (dark && points.At(m + 1) > 0) anchors.insert(m);
    }
    if (options.siesta && options.siesta->percent < 100)
        for (int m : {options.siesta->start - 1, options.siesta->start, options.siesta->end, options.siesta->end + 1})
            anchors.insert(m);
    if (anchors.empty()) {
        // No dark (a polar day): begin where the light is lowest.
        int lowest = 0;
        for (int m = 1; m < kDay; ++m)
            if (points.At(m) < points.At(lowest)) lowest = m;
        anchors.insert(lowest);
    }
    return {anchors.begin(), anchors.end()};
}

// The rows the board needs for every segment to stay within `tolerance`: from each anchor,
// each row as far on as the line still fits.
std::vector<int> GreedyRows(const MinuteCurve& points, const std::vector<int>& anchors, double tolerance,
                            std::size_t limit) {
    std::vector<int> rows(anchors);
    for (std::size_t i = 0; i < anchors.size() && rows.size() <= limit; ++i) {
        const int from = anchors[i];
        const int to = i + 1 < anchors.size() ? anchors[i + 1] : anchors.front() + kDay;
        if (points.Dark(from, to)) continue;
        int at = from;
        while (at < to && rows.size() <= limit) {
            auto fits = [&](int end) { return points.SegmentError(at, end) <= tolerance; };
            int good = at + 1, step = 1;
            while (good + step <= to && fits(good + step)) {
                good += step;
                step *= 2;
            }
            for (step /= 2; step >= 1; step /= 2)
                if (good + step <= to && fits(good + step)) good += step;
            at = good;
            if (at < to) rows.push_back(at % kDay);
        }
    }
    return rows;
}

}  // namespace

double BoardValue(const std::vector<ScheduleEntry>& rows, int channel, double minute) {
    if (rows.empty()) return 0;
    const auto c = static_cast<std::size_t>(channel);
    auto time = [&](std::size_t i) { return rows[i].Hour * 60.0 + rows[i].Minute; };
    std::size_t next = 0;
    while (next < rows.size() && time(next) <= minute) ++next;
    // The line from the row before (yesterday's last, before the first) to the next one.
    const std::size_t prev = next == 0 ? rows.size() - 1 : next - 1;
    double t0 = time(prev), t1 = next == rows.size() ? time(0) + kDay : time(next);
    if (next == 0) t0 -= kDay;
    const double v0 = rows[prev].Color[c], v1 = rows[next == rows.size() ? 0 : next].Color[c];
    return t1 > t0 ? v0 + (v1 - v0) * (minute - t0) / (t1 - t0) : v0;
}

double ProgramError(const DaylightCurve& curve, const std::vector<ScheduleEntry>& rows, double stepSeconds) {
    std::array<double, kChannelCount> tops{};
    for (int c = 0; c < kChannelCount; ++c) tops[static_cast<std::size_t>(c)] = curve.ChannelTop(c);
    const bool onSamples = std::fmod(stepSeconds * DaylightCurve::kSamplesPerMinute, 60.0) == 0;
    double worst = 0;
    for (double s = 0; s < kDay * 60.0; s += stepSeconds) {
        const double minute = s / 60.0;
        const double f = onSamples
                             ? curve.Sample(static_cast<int>(std::lround(minute * DaylightCurve::kSamplesPerMinute)))
                             : curve.Fraction(minute);
        for (int c = 0; c < kChannelCount; ++c)
            worst = std::max(worst, std::abs(BoardValue(rows, c, minute) - tops[static_cast<std::size_t>(c)] * f));
    }
    return worst;
}

FittedProgram FitProgram(const DaylightCurve& curve, int rowCount) {
    const auto limit = static_cast<std::size_t>(std::clamp(rowCount, 2, kDay));
    double top = 0;
    for (int c = 0; c < kChannelCount; ++c) top = std::max(top, curve.ChannelTop(c));
    const MinuteCurve points(curve, top);

    std::vector<int> minutes;
    if (curve.AllDark() || top <= 0) {
        // A dark day: the rows spread evenly, all at 0.
    } else {
        const std::vector<int> anchors = Anchors(points, curve.Options());
        // The smallest tolerance whose rows fit into the board.
        double low = 0, high = top + 1;
        for (int i = 0; i < 30 && high - low > 0.001; ++i) {
            const double mid = (low + high) / 2;
            (GreedyRows(points, anchors, mid, limit).size() <= limit ? high : low) = mid;
        }
        minutes = GreedyRows(points, anchors, high, limit);
        if (minutes.size() > limit) minutes.resize(limit);  // only with more anchors than rows
    }
    // Rows left over split the widest gaps (a dark one stays dark: its ends are 0).
    std::sort(minutes.begin(), minutes.end());
    minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
    while (minutes.size() < limit) {
        if (minutes.empty()) {
            minutes.push_back(0);
            continue;
        }
        std::size_t widest = 0;
        int width = 0;
        for (std::size_t i = 0; i < minutes.size(); ++i) {
            const int next = i + 1 < minutes.size() ? minutes[i + 1] : minutes.front() + kDay;
            if (next - minutes[i] > width) width = next - minutes[i], widest = i;
        }
        if (width < 2) break;
        minutes.push_back((minutes[widest] + width / 2) % kDay);
        std::sort(minutes.begin(), minutes.end());
    }

    FittedProgram program;
    for (int m : minutes) {
        ScheduleEntry row;
        row.Hour = static_cast<std::int8_t>(m / 60);
        row.Minute = static_cast<std::int8_t>(m % 60);
        const double f = curve.Sample(m * DaylightCurve::kSamplesPerMinute);
        for (int c = 0; c < kChannelCount; ++c)
            row.Color[static_cast<std::size_t>(c)] =
                static_cast<std::uint8_t>(std::clamp(std::nearbyint(curve.ChannelTop(c) * f), 0.0, 100.0));
        program.rows.push_back(row);
    }
    program.maxError = ProgramError(curve, program.rows, 30.0);
    return program;
}

}  // namespace quelvan::sun
