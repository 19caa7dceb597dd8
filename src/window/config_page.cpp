#include "window/config_page.h"

#include <QEvent>
#include <QPushButton>

#include "device/board_protocol.h"
#include "device/numeric.h"
#include "schedule/time_text.h"
#include "window/bevel_panel.h"
#include "window/labeled_edit.h"
#include "window/page_geometry.h"
#include "window/track_bar.h"

namespace quelvan {

using namespace page;

namespace {

constexpr int kBlockPitch = 80;  // from one track bar to the next
constexpr int kTimeLapseEditLeft = 120;
constexpr int kRealtimeLeft = 182;
constexpr int kPanelGap = 8;

}  // namespace

ConfigPage::ConfigPage(BoardProtocol& board, QWidget* page, int top, QObject* parent)
    : QObject(parent), board_(board), page_(page), top_(top) {
    trbTimeLapse_ = new TrackBar(page);
    trbTimeLapse_->setObjectName(QStringLiteral("trbTimeLapse"));
    trbTimeLapse_->Configure(0, 250, 1, 10, 10);
    edtTimeLapse_ = new LabeledEdit(QStringLiteral("Zeitraffer 1:"), page);
    edtTimeLapse_->setObjectName(QStringLiteral("edtTimeLapse"));
    btnRealtime_ = new QPushButton(QStringLiteral("Echtzeit"), page);
    btnRealtime_->setObjectName(QStringLiteral("btnRealtime"));

    display_ = CreateTwoValueBar(QStringLiteral("Heruntergedimmtes Display"), QStringLiteral("Aktives Display"));
    display_.trb->setObjectName(QStringLiteral("trbDisplay"));
    display_.low->setObjectName(QStringLiteral("panDisplayMin"));
    display_.high->setObjectName(QStringLiteral("panDisplayMax"));

    fan_ = CreateTwoValueBar(QStringLiteral("Langsame Stufe des Lüfters verstellen"),
                             QStringLiteral("Schnelle Stufe des Lüfters verstellen"));
    fan_.trb->setObjectName(QStringLiteral("trbFan"));
    fan_.low->setObjectName(QStringLiteral("panFanLow"));
    fan_.high->setObjectName(QStringLiteral("panFanHigh"));

    // At creation the low value of each pair is the one the thumb edits.
    SelectPanel(display_, true);
    SelectPanel(fan_, true);

    connect(trbTimeLapse_, &QSlider::valueChanged, this, &ConfigPage::trbTimeLapseChange);
    connect(edtTimeLapse_, &QLineEdit::textChanged, this, &ConfigPage::edtTimeLapseChange);
    connect(btnRealtime_, &QPushButton::clicked, this, &ConfigPage::btnRealtimeClick);
    connect(display_.low, &BevelPanel::clicked, this, &ConfigPage::panDisplayMinClick);
    connect(display_.high, &BevelPanel::clicked, this, &ConfigPage::panDisplayMaxClick);
    connect(display_.trb, &QSlider::valueChanged, this, &ConfigPage::trbDisplayChange);
    connect(fan_.low, &BevelPanel::clicked, this, &ConfigPage::panFanLowClick);
    connect(fan_.high, &BevelPanel::clicked, this, &ConfigPage::panFanHighClick);
    connect(fan_.trb, &QSlider::valueChanged, this, &ConfigPage::trbFanChange);

    page->installEventFilter(this);
    Layout();
}

ConfigPage::TwoValueBar ConfigPage::CreateTwoValueBar(const QString& lowCaption, const QString& highCaption) {
    TwoValueBar bar;
    bar.trb = new TrackBar(page_);
    bar.trb->Configure(0, 255, 1, 10, 51);
    bar.low = new BevelPanel(lowCaption, page_);
    bar.high = new BevelPanel(highCaption, page_);
    SetBand(bar, 0, 0);
    return bar;
}

bool ConfigPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == page_ && event->type() == QEvent::Resize) Layout();
    return QObject::eventFilter(watched, event);
}

void ConfigPage::Layout() {
    const int extra = ExtraWidth(page_);
    const int width = kTrackWidth + extra;
    int top = top_;
    trbTimeLapse_->setGeometry(kTrackLeft, top, width, kTrackHeight);
    PlaceOnLine(edtTimeLapse_, kTimeLapseEditLeft, kEditWidth, top + kLineBelowTrack);
    btnRealtime_->setGeometry(kRealtimeLeft, top + kLineBelowTrack, kButtonWidth, kButtonHeight);
    for (TwoValueBar* bar : {&display_, &fan_}) {
        top += kBlockPitch;
        bar->trb->setGeometry(kTrackLeft, top, width, kTrackHeight);
        const int half = (width - kPanelGap) / 2;
        bar->low->setGeometry(kTrackLeft, top + kLineBelowTrack, half, kButtonHeight);
        bar->high->setGeometry(kTrackLeft + width - half, top + kLineBelowTrack, half, kButtonHeight);
    }
}

void ConfigPage::SetBand(TwoValueBar& bar, int low, int high) {
    bar.bandStart = low;
    bar.bandEnd = high;
    bar.trb->setSelection(low, high);
}

void ConfigPage::SelectPanel(TwoValueBar& bar, bool low) {
    bar.low->SetLowered(low);
    bar.high->SetLowered(!low);
}

void ConfigPage::MoveThumb(TwoValueBar& bar, int position, std::uint8_t& low, std::uint8_t& high) {
    if (bar.low->IsLowered()) {
        low = Low8(position);
        if (high < low) high = low;
    } else {
        high = Low8(position);
        if (low > high) low = high;
    }
    board_.WriteDeviceConfig();
    SetBand(bar, low, high);
}

void ConfigPage::Refresh(TwoValueBar& bar, std::uint8_t low, std::uint8_t high) {
    SetBand(bar, low, high);
    bar.trb->setValue(bar.low->IsLowered() ? low : high);
}

void ConfigPage::panFanLowClick() {
    SelectPanel(fan_, true);
    fan_.trb->setValue(fan_.bandStart);
}

void ConfigPage::panFanHighClick() {
    SelectPanel(fan_, false);
    fan_.trb->setValue(fan_.bandEnd);
}

// Acts on every change of position, the program's included: a moved thumb writes the record.
void ConfigPage::trbFanChange(int position) {
    MoveThumb(fan_, position, board_.config.FanLow, board_.config.FanHigh);
}

void ConfigPage::panDisplayMinClick() {
    SelectPanel(display_, true);
    display_.trb->setValue(display_.bandStart);
}

void ConfigPage::panDisplayMaxClick() {
    SelectPanel(display_, false);
    display_.trb->setValue(display_.bandEnd);
}

void ConfigPage::trbDisplayChange(int position) {
    if (!display_.trb->hasFocus()) return;
    MoveThumb(display_, position, board_.config.LCDBLMin, board_.config.LCDBLMax);
}

void ConfigPage::RefreshFan() {
    Refresh(fan_, board_.config.FanLow, board_.config.FanHigh);
}

void ConfigPage::RefreshDisplay() {
    Refresh(display_, board_.config.LCDBLMin, board_.config.LCDBLMax);
}

void ConfigPage::btnRealtimeClick() {
    board_.config.TimeLapse = 1;
    board_.WriteDeviceConfig();
}

void ConfigPage::trbTimeLapseChange(int position) {
    if (!trbTimeLapse_->hasFocus() || position == board_.config.TimeLapse) return;
    board_.config.TimeLapse = Low8(position);
    board_.WriteDeviceConfig();
    if (!edtTimeLapse_->hasFocus()) edtTimeLapse_->setText(QString::number(board_.config.TimeLapse));
}

void ConfigPage::edtTimeLapseChange(const QString& text) {
    if (!edtTimeLapse_->hasFocus()) return;
    const std::optional<long long> value = ParseInteger(text.toStdString());
    if (!value) return;
    board_.config.TimeLapse = Low8(*value);
    board_.WriteDeviceConfig();
    // The track bar shows 251..255 at its end; the field keeps them.
    trbTimeLapse_->setValue(board_.config.TimeLapse);
}

void ConfigPage::RefreshTimeLapse() {
    trbTimeLapse_->setValue(board_.config.TimeLapse);
    if (!edtTimeLapse_->hasFocus()) edtTimeLapse_->setText(QString::number(board_.config.TimeLapse));
}

}  // namespace quelvan
