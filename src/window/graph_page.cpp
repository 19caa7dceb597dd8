#include "window/graph_page.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "device/board_protocol.h"
#include "schedule/render/graph_picture.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"
#include "window/graph_image.h"
#include "window/table_page.h"

namespace quelvan {

GraphPage::GraphPage(BoardProtocol& board, ScheduleTable& table, QWidget* page, QTimer& tmrVisualize, QObject* parent)
    : QObject(parent), board_(board), table_(table), tmrVisualize_(tmrVisualize) {
    img_ = new GraphImage(page);
    img_->setObjectName("img");
    lblVisualize_ = new QLabel(QStringLiteral("Folgenden Kanal durch Klicken und Ziehen einstellen:"), page);
    lblVisualize_->setObjectName("lblVisualize");
    // A list that cannot be typed into, so that a channel is always chosen.
    cmbVisualize_ = new QComboBox(page);
    cmbVisualize_->setObjectName("cmbVisualize");
    cmbVisualize_->setEditable(false);
    cmbVisualize_->setMinimumContentsLength(12);
    lblVisualize_->setBuddy(cmbVisualize_);

    auto* strip = new QHBoxLayout;
    strip->addWidget(lblVisualize_);
    strip->addWidget(cmbVisualize_);
    strip->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->addWidget(img_, 1);
    layout->addLayout(strip);

    connect(cmbVisualize_, &QComboBox::currentIndexChanged, this, &GraphPage::cmbVisualizeChange);
    connect(&tmrVisualize_, &QTimer::timeout, this, &GraphPage::tmrVisualizeTimer);
    connect(img_, &GraphImage::resized, this, &GraphPage::imgResize);
    connect(img_, &GraphImage::mouseDown, this, &GraphPage::imgMouseDown);
    connect(img_, &GraphImage::mouseMove, this, &GraphPage::imgMouseMove);
    connect(img_, &GraphImage::mouseUp, this, &GraphPage::imgMouseUp);
}

void GraphPage::DrawGraph() {
    GraphInput in;
    in.table = table_.Entries();
    in.clockHour = board_.live.ClockHour;
    in.clockMinute = board_.live.ClockMinute;
    in.colorNames = board_.config.ColorName;
    in.channel = channel_;
    in.width = img_->width();
    in.height = img_->height();
    in.font = img_->font();
    img_->SetImage(quelvan::DrawGraph(in, points_, img_->TakeImage()));
}

void GraphPage::cmbVisualizeChange(int index) {
    // With no item chosen (an emptied list) the graph keeps its channel.
    if (index >= 0 && index < kChannelCount) channel_ = index;
    DrawGraph();
}

void GraphPage::tmrVisualizeTimer() {
    DrawGraph();
}

void GraphPage::imgResize() {
    DrawGraph();
}

void GraphPage::imgMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    tmrVisualize_.start();
    if (const auto hit = HitTest(points_, channel_, x, y)) dragged_ = *hit;
}

void GraphPage::imgMouseMove(Qt::KeyboardModifiers, int x, int y) {
    if (dragged_ < 0 || static_cast<std::size_t>(dragged_) >= table_.Size()) return;
    const auto target = DragTo(x, y, img_->width(), img_->height());
    if (!target) return;
    // Not re-sorted while dragging: the point keeps its index until the release.
    ScheduleEntry& entry = table_.Rows()[static_cast<std::size_t>(dragged_)];
    entry.Hour = static_cast<std::int8_t>(target->hour);
    entry.Minute = static_cast<std::int8_t>(target->minute);
    entry.Color[static_cast<std::size_t>(channel_)] = static_cast<std::uint8_t>(target->percent);
}

void GraphPage::imgMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    dragged_ = -1;
    tmrVisualize_.stop();
    table_.SortByTime();
    if (showSchedule) showSchedule();
    ReportRefusedUpload(board_, WriteSchedule(board_, table_), reportStatus);
}

}  // namespace quelvan
