#include "window/channel_control.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "device/board_protocol.h"
#include "device/channel_names.h"
#include "device/channel_values.h"
#include "device/hid_device_controller.h"
#include "device/numeric.h"
#include "window/labeled_edit.h"
#include "window/number_format.h"
#include "window/track_bar.h"

namespace quelvan {

namespace {

constexpr int kMinutesPerDay = 1440;

// Design geometry in pixels. The page is laid out for this width; wider pages stretch the
// track bars, while the line below each bar keeps its controls together at their design
// places, so that "AUS" and "EIN" stay next to the value they set.
constexpr int kDesignPageWidth = 674;
constexpr int kTrackLeft = 24;
constexpr int kTrackWidth = 622;
constexpr int kTrackHeight = 45;
constexpr int kRowTop = 16;
constexpr int kRowsPerPage = 6;
constexpr int kBottomMargin = 4;
constexpr int kLineBelowTrack = 40;
constexpr int kLineHeight = 25;
constexpr int kNameLabelRight = 140;
constexpr int kNameChoiceLeft = 144;
constexpr int kNameChoiceWidth = 105;
constexpr int kEditLeft = 320;
constexpr int kEditWidth = 49;
constexpr int kOffLeft = 482;
constexpr int kOnLeft = 562;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kClockTrackTop = 8;
constexpr int kClockEditLeft = 120;
constexpr int kClockButtonLeft = 182;

QString PercentText(int value) {
    return FormatNumber(PercentOfChannelValue(value), NumberPattern::UpToTwoDecimals);
}

QString ClockText(int hour, int minute) {
    return FormatNumber(hour, NumberPattern::TwoDigits) + QLatin1Char(':') +
           FormatNumber(minute, NumberPattern::TwoDigits);
}

// Places a control of the given width vertically centred on a line of the row.
void PlaceOnLine(QWidget* widget, int left, int width, int lineTop) {
    const int height = widget->sizeHint().height();
    widget->setGeometry(left, lineTop + (kLineHeight - height) / 2, width, height);
}

// Runs the program's own control updates with the change handlers held back.
class UpdateScope {
public:
    explicit UpdateScope(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~UpdateScope() { flag_ = previous_; }
    UpdateScope(const UpdateScope&) = delete;
    UpdateScope& operator=(const UpdateScope&) = delete;

private:
    bool& flag_;
    bool previous_;
};

}  // namespace

ChannelControl::ChannelControl(BoardProtocol& board, QTabWidget* pc, QWidget* channelsAF, QWidget* channelsGL,
                               QWidget* configPage, QObject* parent)
    : QObject(parent), board_(board), channelsAF_(channelsAF), channelsGL_(channelsGL), configPage_(configPage) {
    showPage = [pc](QWidget* page) {
        if (pc) pc->setCurrentWidget(page);
    };
    typingPause_ = new QTimer(this);
    typingPause_->setObjectName(QStringLiteral("tmrTypedPercent"));
    typingPause_->setSingleShot(true);
    typingPause_->setInterval(kTypingPauseMs);
    connect(typingPause_, &QTimer::timeout, this, &ChannelControl::edtATypingPaused);
    for (int n = 0; n < kChannelCount; ++n) CreateRow(n, n < kRowsPerPage ? channelsAF : channelsGL);
    CreateModeHints();
    CreateClockControls(configPage);

    for (QWidget* page : {channelsAF_, channelsGL_, configPage_}) page->installEventFilter(this);
    LayoutChannelPage(channelsAF_);
    LayoutChannelPage(channelsGL_);
    LayoutClockControls();
}

void ChannelControl::CreateRow(int channel, QWidget* page) {
    const QString number = QString::number(channel);
    ChannelRow& row = rows_[static_cast<std::size_t>(channel)];

    row.trb = new TrackBar(page);
    row.trb->Configure(0, kChannelFullOn, 32, 512, 512);

    row.lblName = new QLabel(QStringLiteral("Bezeicher für Kanal %1").arg(QLatin1Char(ChannelLetter(channel))), page);
    row.lblName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    row.cmbName = new QComboBox(page);
    row.cmbName->setEditable(false);
    QStringList names;
    for (int i = 0; i < static_cast<int>(ColorNames.size()); ++i)
        names << QString::fromStdString(ChannelDisplayName(channel, i));
    row.cmbName->clear();
    row.cmbName->addItems(names);
    row.lblName->setBuddy(row.cmbName);

    row.edt = new LabeledEdit(QStringLiteral("%"), page);
    row.btnOff = new QPushButton(QStringLiteral("AUS"), page);
    row.btnOn = new QPushButton(QStringLiteral("EIN"), page);

    const std::array<std::pair<QWidget*, const char*>, 6> named = {{{row.trb, "trb"},
                                                                    {row.lblName, "lblName"},
                                                                    {row.cmbName, "cmbName"},
                                                                    {row.edt, "edt"},
                                                                    {row.btnOff, "btnOff"},
                                                                    {row.btnOn, "btnOn"}}};
    for (const auto& [widget, prefix] : named) {
        widget->setObjectName(QLatin1String(prefix) + number);
        widget->setProperty("tag", channel);
    }

    connect(row.trb, &QSlider::valueChanged, this, &ChannelControl::trbAChange);
    connect(row.edt, &QLineEdit::textChanged, this, &ChannelControl::edtAChange);
    connect(row.edt, &QLineEdit::returnPressed, this, [this, channel] { WriteTypedPercent(channel); });
    connect(row.edt, &LabeledEdit::focusLeft, this, [this, channel] { WriteTypedPercent(channel); });
    connect(row.btnOff, &QPushButton::clicked, this, &ChannelControl::btnOffAClick);
    connect(row.btnOn, &QPushButton::clicked, this, &ChannelControl::btnOnAClick);
    // Only a user's choice raises the name change; the program's selections do not.
    connect(row.cmbName, &QComboBox::activated, this, &ChannelControl::cmbNameAChange);
}

void ChannelControl::CreateModeHints() {
    const QString text = QStringLiteral("Nur im Modus „Manuell“ änderbar (Menü „Optionen“ › „Manuell“)");
    const std::array<std::pair<QWidget*, const char*>, 2> pages = {
        {{channelsAF_, "lblModeHintAF"}, {channelsGL_, "lblModeHintGL"}}};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        auto* label = new QLabel(text, pages[i].first);
        label->setObjectName(QLatin1String(pages[i].second));
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
        // The page is disabled while the note shows; the note itself is meant to be read.
        QPalette palette = label->palette();
        palette.setColor(QPalette::Disabled, QPalette::WindowText,
                         palette.color(QPalette::Active, QPalette::WindowText));
        label->setPalette(palette);
        label->hide();
        lblModeHint_[i] = label;
    }
}

void ChannelControl::ShowModeHint(bool shown) {
    for (QLabel* label : lblModeHint_) label->setVisible(shown);
}

void ChannelControl::CreateClockControls(QWidget* configPage) {
    trbTime_ = new TrackBar(configPage);
    trbTime_->setObjectName(QStringLiteral("trbTime"));
    trbTime_->Configure(0, kMinutesPerDay, 1, 60, 60);

    edtTime_ = new LabeledEdit(QStringLiteral("Zeit (HH:MM)"), configPage);
    edtTime_->setObjectName(QStringLiteral("edtTime"));

    btnNow_ = new QPushButton(QStringLiteral("Jetzt"), configPage);
    btnNow_->setObjectName(QStringLiteral("btnNow"));

    connect(trbTime_, &QSlider::valueChanged, this, &ChannelControl::trbTimeChange);
    connect(edtTime_, &QLineEdit::textChanged, this, &ChannelControl::edtTimeChange);
    connect(btnNow_, &QPushButton::clicked, this, &ChannelControl::btnNowClick);
}

bool ChannelControl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == channelsAF_ || watched == channelsGL_) LayoutChannelPage(static_cast<QWidget*>(watched));
        if (watched == configPage_) LayoutClockControls();
    }
    return QObject::eventFilter(watched, event);
}

void ChannelControl::LayoutChannelPage(QWidget* page) {
    const int extra = std::max(0, page->width() - kDesignPageWidth);
    // The rows share the page's height: a taller page spreads them out, a page shorter than
    // the design (the tabs on two rows in the smallest window) brings them a little closer,
    // so that the last row stays whole, but never so close that a row's line touches the
    // next track bar.
    const int fitting =
        (page->height() - kRowTop - kLineBelowTrack - kButtonHeight - kBottomMargin) / (kRowsPerPage - 1);
    const int pitch = std::max(fitting, kLineBelowTrack + kLineHeight + kBottomMargin);
    // The note takes the strip above the first track bar.
    for (QLabel* label : lblModeHint_)
        if (label->parentWidget() == page) label->setGeometry(kTrackLeft, 0, kTrackWidth + extra, kRowTop);
    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelRow& row = rows_[static_cast<std::size_t>(n)];
        if (row.trb->parentWidget() != page) continue;
        const int top = kRowTop + pitch * (n % kRowsPerPage);
        const int line = top + kLineBelowTrack;
        row.trb->setGeometry(kTrackLeft, top, kTrackWidth + extra, kTrackHeight);
        const int labelWidth = std::min(row.lblName->sizeHint().width(), kNameLabelRight);
        PlaceOnLine(row.lblName, kNameLabelRight - labelWidth, labelWidth, line);
        PlaceOnLine(row.cmbName, kNameChoiceLeft, kNameChoiceWidth, line);
        PlaceOnLine(row.edt, kEditLeft, kEditWidth, line);
        row.btnOff->setGeometry(kOffLeft, line, kButtonWidth, kButtonHeight);
        row.btnOn->setGeometry(kOnLeft, line, kButtonWidth, kButtonHeight);
    }
}

void ChannelControl::LayoutClockControls() {
    const int extra = std::max(0, configPage_->width() - kDesignPageWidth);
    trbTime_->setGeometry(kTrackLeft, kClockTrackTop, kTrackWidth + extra, kTrackHeight);
    const int line = kClockTrackTop + kLineBelowTrack;
    PlaceOnLine(edtTime_, kClockEditLeft, kEditWidth, line);
    btnNow_->setGeometry(kClockButtonLeft, line, kButtonWidth, kButtonHeight);
}

int ChannelControl::ChannelOf(QObject* control) const {
    if (!control) return -1;
    bool ok = false;
    const int channel = control->property("tag").toInt(&ok);
    return ok && channel >= 0 && channel < kChannelCount ? channel : -1;
}

void ChannelControl::ShowChannelNames() {
    if (cmbVisualize) {
        const QSignalBlocker blocker(cmbVisualize);
        cmbVisualize->clear();
    }
    QStringList visualizeNames;
    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelRow& row = rows_[static_cast<std::size_t>(n)];
        int index = board_.config.ColorName[static_cast<std::size_t>(n)];
        // An index beyond the names (only briefly possible after an import) reads as the first.
        if (index >= static_cast<int>(ColorNames.size())) index = 0;
        const QString name = QString::fromStdString(ChannelDisplayName(n, index));
        if (!row.cmbName->hasFocus()) {
            const QSignalBlocker blocker(row.cmbName);
            row.cmbName->setCurrentIndex(index);
        }
        row.edt->SetLabelText(name);
        if (setGridHeader) setGridHeader(n + 2, name);
        visualizeNames << name;
    }
    if (cmbVisualize) {
        const QSignalBlocker blocker(cmbVisualize);
        cmbVisualize->addItems(visualizeNames);
        if (currentGraphChannel) cmbVisualize->setCurrentIndex(currentGraphChannel());
    }
}

void ChannelControl::RefreshChannels() {
    const UpdateScope scope(updating_);
    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelRow& row = rows_[static_cast<std::size_t>(n)];
        const int value = board_.live.ChannelValue[static_cast<std::size_t>(n)];
        row.trb->setValue(value);
        if (!row.edt->hasFocus()) row.edt->setText(PercentText(value));
    }
}

void ChannelControl::RefreshClock() {
    const UpdateScope scope(updating_);
    const int hour = board_.live.ClockHour;
    const int minute = board_.live.ClockMinute;
    if (!edtTime_->hasFocus()) edtTime_->setText(ClockText(hour, minute));
    trbTime_->setValue(hour * 60 + minute);
}

void ChannelControl::SetChannel(int channel, int value) {
    // The buttons and the all-on/all-off commands set the channel after anything typed.
    DropTypedPercent(channel);
    const ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
    board_.live.ChannelValue[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(value);
    const UpdateScope scope(updating_);
    row.trb->setValue(value);
}

void ChannelControl::trbAChange(int position) {
    const int n = ChannelOf(sender());
    if (updating_ || n < 0) return;
    const ChannelRow& row = rows_[static_cast<std::size_t>(n)];
    if (!row.trb->hasFocus() || position == board_.live.ChannelValue[static_cast<std::size_t>(n)]) return;
    board_.live.ChannelValue[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(position);
    board_.WriteLiveState(false, false, true);
    const UpdateScope scope(updating_);
    row.edt->setText(PercentText(position));
}

void ChannelControl::edtAChange(const QString& text) {
    const int n = ChannelOf(sender());
    if (updating_ || n < 0) return;
    const ChannelRow& row = rows_[static_cast<std::size_t>(n)];
    if (!row.edt->hasFocus()) return;
    // Another edit's value still waiting goes out first, as it would on leaving that edit.
    if (typedChannel_ >= 0 && typedChannel_ != n) WriteTypedPercent(typedChannel_);
    // Text that does not parse is ignored, and an earlier prefix of it is not written either.
    if (!ParseDecimal(text)) {
        DropTypedPercent(n);
        return;
    }
    typedChannel_ = n;
    typingPause_->start();
}

void ChannelControl::edtATypingPaused() {
    if (typedChannel_ >= 0) WriteTypedPercent(typedChannel_);
}

void ChannelControl::WriteTypedPercent(int channel) {
    if (channel != typedChannel_) return;
    DropTypedPercent(channel);
    const std::optional<double> percent = ParseDecimal(rows_[static_cast<std::size_t>(channel)].edt->text());
    if (!percent) return;
    // A percentage beyond 0..100 is sent as its nearest end, as the command-line tool
    // refuses it: 150 % would otherwise reach the board as 6144.
    SetChannel(channel, ChannelValueFromPercent(std::clamp(*percent, 0.0, 100.0)));
    board_.WriteLiveState(false, false, true);
}

void ChannelControl::DropTypedPercent(int channel) {
    if (typedChannel_ != channel) return;
    typedChannel_ = -1;
    typingPause_->stop();
}

void ChannelControl::btnOffAClick() {
    const int n = ChannelOf(sender());
    if (n < 0) return;
    SetChannel(n, 0);
    board_.WriteLiveState(false, false, true);
    const UpdateScope scope(updating_);
    rows_[static_cast<std::size_t>(n)].edt->setText(PercentText(0));
}

void ChannelControl::btnOnAClick() {
    const int n = ChannelOf(sender());
    if (n < 0) return;
    SetChannel(n, kChannelFullOn);
    board_.WriteLiveState(false, false, true);
    const UpdateScope scope(updating_);
    rows_[static_cast<std::size_t>(n)].edt->setText(PercentText(kChannelFullOn));
}

void ChannelControl::SetAllChannels(int value) {
    // Shared through the service: one turn on the board, starting from what it holds now.
    const ExclusiveUse exclusive(board_.Device());
    board_.RereadIfShared();
    board_.config.Mode = 0;
    board_.WriteDeviceConfig();
    if (showPage) showPage(channelsAF_);
    {
        const UpdateScope scope(updating_);
        for (int n = 0; n < kChannelCount; ++n) {
            SetChannel(n, value);
            rows_[static_cast<std::size_t>(n)].edt->setText(PercentText(value));
        }
    }
    board_.WriteLiveState(false, false, true);
}

void ChannelControl::mnuAllOffClick() {
    SetAllChannels(0);
}

void ChannelControl::mnuAllOnClick() {
    SetAllChannels(kChannelFullOn);
}

void ChannelControl::cmbNameAChange(int index) {
    const int n = ChannelOf(sender());
    if (n < 0 || index < 0) return;
    board_.config.ColorName[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(index);
    board_.WriteDeviceConfig();
    ShowChannelNames();
}

void ChannelControl::trbTimeChange(int position) {
    if (updating_) return;
    const int hour = position / 60;
    const int minute = position % 60;
    if (hour == board_.live.ClockHour && minute == board_.live.ClockMinute) return;
    // Seconds and tick keep what the board sent last.
    board_.live.ClockHour = static_cast<std::int8_t>(hour);
    board_.live.ClockMinute = static_cast<std::int8_t>(minute);
    board_.WriteLiveState(true, false, false);
    if (!edtTime_->hasFocus()) {
        const UpdateScope scope(updating_);
        edtTime_->setText(ClockText(hour, minute));
    }
}

void ChannelControl::edtTimeChange(const QString& text) {
    if (updating_ || !edtTime_->hasFocus()) return;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) return;
    bool ok = false;
    const long long hour = text.left(colon).trimmed().toLongLong(&ok);
    if (!ok) return;
    // The hour is kept even when the minute turns out not to parse; the next poll
    // brings the board's clock back.
    board_.live.ClockHour = LowSigned8(hour);
    const long long minute = text.mid(colon + 1).trimmed().toLongLong(&ok);
    if (!ok) return;
    board_.live.ClockMinute = LowSigned8(minute);
    board_.WriteLiveState(true, false, false);
    // Deliberately not held back: a time beyond the track bar's range moves it to its
    // end, and its own handler then sends the time it shows.
    trbTime_->setValue(board_.live.ClockHour * 60 + board_.live.ClockMinute);
}

void ChannelControl::btnNowClick() {
    board_.SetClockFromComputer();
    board_.WriteLiveState(true, false, false);
}

}  // namespace quelvan
