#include "window/moon_display.h"

#include <QLabel>
#include <QPixmap>

#include "device/board_protocol.h"
#include "schedule/moon_phase.h"
#include "schedule/render/argb_image.h"
#include "schedule/render/moon_picture.h"
#include "schedule/time_text.h"
#include "window/labeled_edit.h"
#include "window/page_geometry.h"
#include "window/track_bar.h"

namespace quelvan {

using namespace page;

namespace {

constexpr int kMinutesPerDay = 1440;
constexpr int kTransitEditLeft = 340;
constexpr int kPictureGap = 12;

QString TimeText(int hour, int minute) {
    return QString::fromStdString(FormatTimeOfDay(hour, minute));
}

}  // namespace

MoonDisplay::MoonDisplay(BoardProtocol& board, QWidget* page, QObject* parent) : QObject(parent), board_(board) {
    trbMoonTransit_ = new TrackBar(page);
    trbMoonTransit_->setObjectName(QStringLiteral("trbMoonTransit"));
    trbMoonTransit_->Configure(0, kMinutesPerDay, 1, 60, 60);
    edtMoonTransit_ = new LabeledEdit(QStringLiteral("Zeit des Mondhöchststandes (HH:MM)"), page);
    edtMoonTransit_->setObjectName(QStringLiteral("edtMoonTransit"));

    // Fully transparent until the first drawing, so the page shows through.
    bitmap_ = NewArgbImage(kMoonPictureSize, kMoonPictureSize, 0);
    imgMoon_ = new QLabel(page);
    imgMoon_->setObjectName(QStringLiteral("imgMoon"));
    imgMoon_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgMoon_->setFixedSize(bitmap_.size());
    imgMoon_->setPixmap(QPixmap::fromImage(bitmap_));

    connect(trbMoonTransit_, &QSlider::valueChanged, this, &MoonDisplay::trbMoonTransitChange);
    connect(edtMoonTransit_, &QLineEdit::textChanged, this, &MoonDisplay::edtMoonTransitChange);
}

int MoonDisplay::Layout(int top, int extra) {
    trbMoonTransit_->setGeometry(kTrackLeft, top, kTrackWidth + extra, kTrackHeight);
    const int line = top + kLineBelowTrack;
    PlaceOnLine(edtMoonTransit_, kTransitEditLeft, kEditWidth, line);
    imgMoon_->move(kTransitEditLeft + kEditWidth + kPictureGap, line);
    return line + imgMoon_->height();
}

void MoonDisplay::RefreshMoonDisplay() {
    const LiveState& live = board_.live;
    trbMoonTransit_->setValue(live.MoonTransitHour * 60 + live.MoonTransitMinute);
    if (!edtMoonTransit_->hasFocus()) edtMoonTransit_->setText(TimeText(live.MoonTransitHour, live.MoonTransitMinute));
    ShowMoonPhase();
}

void MoonDisplay::ShowMoonPhase() {
    const MoonPhase moon = ComputeMoonPhase(board_.live.MoonTransitHour, board_.live.MoonTransitMinute,
                                            board_.config.FullmoonTransitHour, board_.config.FullmoonTransitMinute);
    PaintMoonPhase(bitmap_, moon);
    imgMoon_->setPixmap(QPixmap::fromImage(bitmap_));
}

// No focus condition: the poll's own move finds the values equal and stops here. A time the
// track bar can only show limited (25:00 at 1440) is sent as the track bar shows it.
void MoonDisplay::trbMoonTransitChange(int position) {
    const int hour = position / 60;
    const int minute = position % 60;
    LiveState& live = board_.live;
    if (hour == live.MoonTransitHour && minute == live.MoonTransitMinute) return;
    live.MoonTransitHour = static_cast<std::int8_t>(hour);
    live.MoonTransitMinute = static_cast<std::int8_t>(minute);
    if (!edtMoonTransit_->hasFocus()) edtMoonTransit_->setText(TimeText(hour, minute));
    ShowMoonPhase();
    board_.WriteLiveState(false, true, false);
}

void MoonDisplay::edtMoonTransitChange(const QString& text) {
    if (!edtMoonTransit_->hasFocus()) return;
    LiveState& live = board_.live;
    if (!StoreTypedTime(text.toStdString(), live.MoonTransitHour, live.MoonTransitMinute)) return;
    board_.WriteLiveState(false, true, false);
    trbMoonTransit_->setValue(live.MoonTransitHour * 60 + live.MoonTransitMinute);
}

}  // namespace quelvan
