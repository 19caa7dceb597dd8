#include "window/weather_page.h"

#include <QEvent>
#include <QLabel>
#include <algorithm>
#include <climits>

#include "device/board_protocol.h"
#include "device/weather_conversions.h"
#include "schedule/time_text.h"
#include "window/labeled_edit.h"
#include "window/moon_display.h"
#include "window/number_format.h"
#include "window/page_geometry.h"
#include "window/track_bar.h"

namespace quelvan {

using namespace page;

namespace {

constexpr int kFirstTrackTop = 8;
constexpr int kRowPitch = 76;
constexpr int kEditLeft = 340;
constexpr int kRatioLeft = 400;
constexpr int kNoteGap = 12;
constexpr int kNoteHeight = 40;

int ToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

QString ShareText(const char* prefix, std::uint16_t probability, std::uint16_t duration) {
    const std::optional<double> share = WeatherSharePercent(probability, duration);
    if (!share) return QString();
    return QString::fromUtf8(prefix) + FormatNumber(*share, NumberPattern::UpToOneDecimal) + QStringLiteral(" %");
}

}  // namespace

WeatherPage::WeatherPage(BoardProtocol& board, QWidget* page, QObject* parent)
    : QObject(parent), board_(board), page_(page) {
    cloudCount_ = CreateRow("CloudCount", QStringLiteral("Durchschnittliche Anzahl der Wolken pro Tag"),
                            kCloudCountRange.minimum, kCloudCountRange.maximum, 100, 100);
    lblCloudRatio_ = new QLabel(page);
    lblCloudRatio_->setObjectName(QStringLiteral("lblCloudRatio"));
    lblCloudRatio_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cloudSeconds_ = CreateRow("CloudSeconds", QStringLiteral("Durchschnittliche Dauer einer Wolke in Sekunden"),
                              kCloudSecondsRange.minimum, kCloudSecondsRange.maximum, 60, 60);
    stormCount_ = CreateRow("StormCount", QStringLiteral("Durchschnittliche Anzahl der Gewitter pro Tag"),
                            kStormCountRange.minimum, kStormCountRange.maximum, 1, 1);
    lblStormRatio_ = new QLabel(page);
    lblStormRatio_->setObjectName(QStringLiteral("lblStormRatio"));
    lblStormRatio_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    stormMinutes_ = CreateRow("StormMinutes", QStringLiteral("Durchschnittliche Dauer eines Gewitters in Minuten"),
                              kStormMinutesRange.minimum, kStormMinutesRange.maximum, 60, 15);

    moon_ = new MoonDisplay(board, page, this);

    lblDescription3_ = new QLabel(
        QStringLiteral("Die Mond-Helligkeitseinstellungen für jeden Kanal sind in den Expertenoptionen zu finden "
                       "(Optionen / Seite \"Expertenoptionen\" einblenden)"),
        page);
    lblDescription3_->setObjectName(QStringLiteral("lblDescription3"));
    lblDescription3_->setWordWrap(true);
    lblDescription3_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(cloudCount_.trb, &QSlider::valueChanged, this, &WeatherPage::trbCloudCountChange);
    connect(cloudCount_.edt, &QLineEdit::textChanged, this, &WeatherPage::edtCloudCountChange);
    connect(cloudSeconds_.trb, &QSlider::valueChanged, this, &WeatherPage::trbCloudSecondsChange);
    connect(cloudSeconds_.edt, &QLineEdit::textChanged, this, &WeatherPage::edtCloudSecondsChange);
    connect(stormCount_.trb, &QSlider::valueChanged, this, &WeatherPage::trbStormCountChange);
    connect(stormCount_.edt, &QLineEdit::textChanged, this, &WeatherPage::edtStormCountChange);
    connect(stormMinutes_.trb, &QSlider::valueChanged, this, &WeatherPage::trbStormMinutesChange);
    connect(stormMinutes_.edt, &QLineEdit::textChanged, this, &WeatherPage::edtStormMinutesChange);

    page->installEventFilter(this);
    Layout();
}

WeatherPage::Row WeatherPage::CreateRow(const char* name, const QString& label, int minimum, int maximum, int page,
                                        int ticks) {
    Row row;
    row.trb = new TrackBar(page_);
    row.trb->setObjectName(QStringLiteral("trb") + QLatin1String(name));
    row.trb->Configure(minimum, maximum, 1, page, ticks);
    row.edt = new LabeledEdit(label, page_);
    row.edt->setObjectName(QStringLiteral("edt") + QLatin1String(name));
    return row;
}

bool WeatherPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == page_ && event->type() == QEvent::Resize) Layout();
    return QObject::eventFilter(watched, event);
}

void WeatherPage::Layout() {
    const int extra = ExtraWidth(page_);
    int top = kFirstTrackTop;
    for (const Row* row : {&cloudCount_, &cloudSeconds_, &stormCount_, &stormMinutes_}) {
        row->trb->setGeometry(kTrackLeft, top, kTrackWidth + extra, kTrackHeight);
        PlaceOnLine(row->edt, kEditLeft, kEditWidth, top + kLineBelowTrack);
        QLabel* ratio = row == &cloudCount_ ? lblCloudRatio_ : row == &stormCount_ ? lblStormRatio_ : nullptr;
        if (ratio) PlaceOnLine(ratio, kRatioLeft, kTrackLeft + kTrackWidth + extra - kRatioLeft, top + kLineBelowTrack);
        top += kRowPitch;
    }
    const int moonBottom = moon_->Layout(top, extra);
    lblDescription3_->setGeometry(kTrackLeft, moonBottom + kNoteGap, kTrackWidth + extra, kNoteHeight);
}

void WeatherPage::UpdateCloudProbabilities() {
    SetCloudProbabilities(board_.config, cloudCount_.trb->value(), cloudSeconds_.trb->value());
    board_.WriteDeviceConfig();
}

void WeatherPage::UpdateStormProbabilities() {
    SetStormProbabilities(board_.config, stormCount_.trb->value(), stormMinutes_.trb->value());
    board_.WriteDeviceConfig();
}

void WeatherPage::TrackBarMoved(const Row& row, int position, void (WeatherPage::*update)()) {
    if (!row.trb->hasFocus()) return;
    if (!row.edt->hasFocus()) row.edt->setText(QString::number(position));
    (this->*update)();
}

void WeatherPage::NumberTyped(const Row& row, const QString& text, void (WeatherPage::*update)()) {
    if (!row.edt->hasFocus()) return;
    const std::optional<long long> value = ParseInteger(text.toStdString());
    if (!value) return;
    row.trb->setValue(ToInt(*value));
    (this->*update)();
}

void WeatherPage::trbCloudCountChange(int position) {
    TrackBarMoved(cloudCount_, position, &WeatherPage::UpdateCloudProbabilities);
}

void WeatherPage::edtCloudCountChange(const QString& text) {
    NumberTyped(cloudCount_, text, &WeatherPage::UpdateCloudProbabilities);
}

void WeatherPage::trbCloudSecondsChange(int position) {
    TrackBarMoved(cloudSeconds_, position, &WeatherPage::UpdateCloudProbabilities);
}

void WeatherPage::edtCloudSecondsChange(const QString& text) {
    NumberTyped(cloudSeconds_, text, &WeatherPage::UpdateCloudProbabilities);
}

void WeatherPage::trbStormCountChange(int position) {
    TrackBarMoved(stormCount_, position, &WeatherPage::UpdateStormProbabilities);
}

void WeatherPage::edtStormCountChange(const QString& text) {
    NumberTyped(stormCount_, text, &WeatherPage::UpdateStormProbabilities);
}

void WeatherPage::trbStormMinutesChange(int position) {
    TrackBarMoved(stormMinutes_, position, &WeatherPage::UpdateStormProbabilities);
}

void WeatherPage::edtStormMinutesChange(const QString& text) {
    NumberTyped(stormMinutes_, text, &WeatherPage::UpdateStormProbabilities);
}

void WeatherPage::ShowPosition(const Row& row, long long value) {
    row.trb->setValue(ToInt(value));
}

void WeatherPage::RefreshClouds() {
    const DeviceConfig& config = board_.config;
    ShowPosition(cloudCount_, CountPerDayFromProbability(config.CloudP));
    // A zero duration leaves its track bar where it is.
    if (const auto seconds = CloudSecondsFromD(config.CloudD)) ShowPosition(cloudSeconds_, *seconds);
    for (const Row* row : {&cloudCount_, &cloudSeconds_})
        if (!row->edt->hasFocus()) row->edt->setText(QString::number(row->trb->value()));
}

void WeatherPage::RefreshStorms() {
    const DeviceConfig& config = board_.config;
    ShowPosition(stormCount_, CountPerDayFromProbability(config.StormP));
    if (const auto minutes = StormMinutesFromD(config.StormD)) ShowPosition(stormMinutes_, *minutes);
    for (const Row* row : {&stormCount_, &stormMinutes_})
        if (!row->edt->hasFocus()) row->edt->setText(QString::number(row->trb->value()));
}

void WeatherPage::RefreshShares() {
    lblCloudRatio_->setText(ShareText("Wolkenanteil: ", board_.config.CloudP, board_.config.CloudD));
    lblStormRatio_->setText(ShareText("Gewitteranteil: ", board_.config.StormP, board_.config.StormD));
}

}  // namespace quelvan
