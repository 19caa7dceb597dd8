// The graph request that quelvanctl hands its renderer, and the renderer program itself:
// it must draw exactly the window's picture.

#include "schedule/graph_request.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>

#include "schedule/render/graph_picture.h"

namespace quelvan {
namespace {

GraphRequest Sample() {
    GraphRequest r;
    ScheduleEntry a;
    a.Hour = 6;
    a.Minute = 30;
    a.Color = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 255};
    ScheduleEntry b;
    b.Hour = 24;
    b.Minute = static_cast<std::int8_t>(200);
    b.Color.fill(75);
    r.table = {a, b};
    r.clockHour = 14;
    r.clockMinute = 35;
    r.colorNames = {1, 7, 8, 11, 4, 2, 3, 5, 6, 9, 10, 200};
    r.channel = 4;
    r.width = 640;
    r.height = 300;
    return r;
}

bool Same(const GraphRequest& a, const GraphRequest& b) {
    return a.table == b.table && a.clockHour == b.clockHour && a.clockMinute == b.clockMinute &&
           a.colorNames == b.colorNames && a.channel == b.channel && a.width == b.width && a.height == b.height;
}

TEST(GraphRequest, RoundTripsAndRefusesValuesOutOfRange) {
    const GraphRequest sample = Sample();
    const auto decoded = DecodeGraphRequest(EncodeGraphRequest(sample));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(Same(*decoded, sample));

    const std::string good = EncodeGraphRequest(sample);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const std::string bad[] = {
        "",
        "[]",
        with("\"width\":640", "\"width\":40"),
        with("\"height\":300", "\"height\":9000"),
        with("\"channel\":4", "\"channel\":12"),
        with("\"channel\":4", "\"channel\":\"A\""),
        with("\"clock\":[14,35]", "\"clock\":[14]"),
        with("[24,-56,", "[24,200,"),
        with("255]", "256]"),
        with(",200]", "]"),
    };
    for (const std::string& text : bad) {
        std::string error;
        EXPECT_FALSE(DecodeGraphRequest(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(GraphRenderer, DrawsTheSamePictureAsTheWindow) {
    const GraphRequest sample = Sample();
    QProcess renderer;
    renderer.start(QStringLiteral(QUELVANCTL_GRAPH_PATH), {});
    ASSERT_TRUE(renderer.waitForStarted());
    renderer.write(QByteArray::fromStdString(EncodeGraphRequest(sample)));
    renderer.closeWriteChannel();
    ASSERT_TRUE(renderer.waitForFinished(30000));
    ASSERT_EQ(renderer.exitCode(), 0) << renderer.readAllStandardError().toStdString();

    GraphInput in;
    in.table = sample.table;
    in.clockHour = sample.clockHour;
    in.clockMinute = sample.clockMinute;
    in.colorNames = sample.colorNames;
    in.channel = sample.channel;
    in.width = sample.width;
    in.height = sample.height;
    in.font = DefaultGraphFont();
    std::vector<GraphPoint> points;
    const QImage expected = DrawGraph(in, points);
    // The PNG comes back on standard output; quelvanctl writes the file.
    const QImage written =
        QImage::fromData(renderer.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(written.size(), QSize(640, 300));
    EXPECT_TRUE(written == expected);

    // A request it cannot read: refused, no picture.
    QProcess refused;
    refused.start(QStringLiteral(QUELVANCTL_GRAPH_PATH), {});
    ASSERT_TRUE(refused.waitForStarted());
    refused.write("{\"width\": 1}");
    refused.closeWriteChannel();
    ASSERT_TRUE(refused.waitForFinished(30000));
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardOutput().isEmpty());
}

}  // namespace
}  // namespace quelvan
