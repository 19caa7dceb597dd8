// quelvanctl-graph: reads a graph request (JSON) on standard input and writes the graph of
// the day as a PNG on standard output, drawn by the same function as the window's page
// "Grafik". quelvanctl runs it for "quelvanctl graph", so that quelvanctl itself never loads
// Qt, and writes the file itself.

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "schedule/graph_request.h"
#include "schedule/render/graph_picture.h"

int main(int argc, char* argv[]) {
    using namespace quelvan;
    if (argc != 1) {
        std::fprintf(stderr, "usage: quelvanctl-graph < request.json > picture.png\n");
        return 2;
    }
    const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::string error;
    const std::optional<GraphRequest> request = DecodeGraphRequest(input, &error);
    if (!request) {
        std::fprintf(stderr, "quelvanctl-graph: bad request: %s\n", error.c_str());
        return 2;
    }

    // Headless: fonts come from the GUI application, no display is needed. Qt's notes about
    // the environment (no runtime folder on a server, say) are not the user's concern here.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "quelvanctl-graph: %s\n", message.toLocal8Bit().constData());
    });
    QGuiApplication app(argc, argv);
    GraphInput in;
    in.table = request->table;
    in.clockHour = request->clockHour;
    in.clockMinute = request->clockMinute;
    in.colorNames = request->colorNames;
    in.channel = request->channel;
    in.width = request->width;
    in.height = request->height;
    in.font = DefaultGraphFont();
    std::vector<GraphPoint> points;
    const QImage image = DrawGraph(in, points);
    QByteArray png;
    QBuffer buffer(&png);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        std::fprintf(stderr, "quelvanctl-graph: cannot draw the picture\n");
        return 1;
    }
    const auto size = static_cast<std::size_t>(png.size());
    if (std::fwrite(png.constData(), 1, size, stdout) != size || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "quelvanctl-graph: cannot hand the picture over\n");
        return 1;
    }
    return 0;
}
