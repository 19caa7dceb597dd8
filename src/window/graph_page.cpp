#include "window/graph_page.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "device/board_protocol.h"
#include "schedule/render/graph_picture.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"
#include "schedule/time_text.h"
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

    lblDragInfo_ = new QLabel(img_);
    lblDragInfo_->setObjectName("lblDragInfo");
    lblDragInfo_->setAutoFillBackground(true);
    lblDragInfo_->setBackgroundRole(QPalette::ToolTipBase);
    lblDragInfo_->setForegroundRole(QPalette::ToolTipText);
    lblDragInfo_->setFrameStyle(QFrame::Box | QFrame::Plain);
    lblDragInfo_->setMargin(2);
    lblDragInfo_->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblDragInfo_->hide();

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
    // Drawn for the screen's pixels, so that it is sharp on a high-density screen; the
    // geometry, the points and the mouse stay in the image's own (logical) pixels.
    in.scale = pixelRatio ? pixelRatio() : img_->devicePixelRatioF();
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
    const auto hit = HitTest(points_, channel_, x, y);
    if (!hit || static_cast<std::size_t>(*hit) >= table_.Size()) return;
    dragged_ = *hit;
    ShowDragInfo(x, y);
    // The time is the row's, shared by every channel; that is easily missed.
    if (status.show)
        status.show(QStringLiteral("Ziehen ändert die Uhrzeit des Punktes für alle Kanäle, die Helligkeit nur für „") +
                    cmbVisualize_->currentText() + QStringLiteral("“"));
}

void GraphPage::ShowDragInfo(int x, int y) {
    const ScheduleEntry& entry = table_.Rows()[static_cast<std::size_t>(dragged_)];
    lblDragInfo_->setText(QString::fromStdString(FormatTimeOfDay(entry.Hour, entry.Minute)) + QStringLiteral(" Uhr, ") +
                          QString::number(entry.Color[static_cast<std::size_t>(channel_)]) + QStringLiteral(" %"));
    lblDragInfo_->adjustSize();
    // Below and right of the cursor, or on its other side where the image ends.
    constexpr int kOffset = 16;
    const QSize size = lblDragInfo_->size();
    int left = x + kOffset;
    int top = y + kOffset;
    if (left + size.width() > img_->width()) left = x - kOffset - size.width();
    if (top + size.height() > img_->height()) top = y - kOffset - size.height();
    lblDragInfo_->move(std::clamp(left, 0, std::max(0, img_->width() - size.width())),
                       std::clamp(top, 0, std::max(0, img_->height() - size.height())));
    lblDragInfo_->show();
    lblDragInfo_->raise();
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
    ShowDragInfo(x, y);
}

void GraphPage::imgMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    dragged_ = -1;
    lblDragInfo_->hide();
    tmrVisualize_.stop();
    table_.SortByTime();
    if (showSchedule) showSchedule();
    ReportUpload(board_, WriteSchedule(board_, table_), status);
}

}  // namespace quelvan
