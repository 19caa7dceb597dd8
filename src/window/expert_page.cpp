#include "window/expert_page.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <vector>

#include "device/board_protocol.h"
#include "device/numeric.h"
#include "device/temperature_text.h"
#include "schedule/time_text.h"
#include "window/labeled_edit.h"
#include "window/number_format.h"
#include "window/page_geometry.h"

namespace quelvan {

using namespace page;

namespace {

// Line by line from the top of the page; edits in a column at the right, their labels ending
// before them; the second edit of a pair beside the first; four channels to a line.
constexpr int kTop = 4;
constexpr int kPitch = 22;
constexpr int kLineHeightHere = 22;
constexpr int kEditLeft = 540;
constexpr int kWideEditWidth = 60;
constexpr int kPairGap = 6;
constexpr int kChannelEditLeft = 366;
constexpr int kChannelEditWidth = 40;
constexpr int kChannelPitch = 76;
constexpr int kNoteLeft = 8;
constexpr int kRadioLeft = 24;

QString Decimal(long long value) {
    return QString::number(value);
}

std::string DecimalSeparator() {
    return QLocale().decimalPoint().toStdString();
}

QString TemperatureText(int tenths) {
    return QString::fromStdString(FormatTenths(tenths, DecimalSeparator()));
}

}  // namespace

ExpertPage::ExpertPage(BoardProtocol& board, QWidget* page, QObject* parent)
    : QObject(parent), board_(board), page_(page) {
    edtPoweronPosition_ =
        CreateEdit("edtPoweronPosition", QStringLiteral("Startposition, die beim Einschalten angesprungen wird (siehe "
                                                        "Tabelle)"));
    lblPWMPrescaler_ = CreateNote("lblPWMPrescaler",
                                  QStringLiteral("Zur Vermeidung von PWM-Pfeifen kann hier ein anderer Wert gewählt "
                                                 "werden (erfordert Speichern im EEPROM und Neustart):"));
    edtPWMPrescaler_ =
        CreateEdit("edtPWMPrescaler", QStringLiteral("PWM-Prescaler (Frequenz=25MHz/4096/(Prescaler+1); 3 bis 255)"),
                   QStringLiteral("1,5kHz -> 3; 1kHz -> 5; 600Hz -> 9; 300Hz -> 19"));
    lblTWIBitrate_ =
        CreateNote("lblTWIBitrate", QStringLiteral("Bei Störungen im Bus kann hier ein anderer Wert gewählt werden "
                                                   "(erfordert Speichern im EEPROM und Neustart):"));
    edtTWIBitrate_ =
        CreateEdit("edtTWIBitrate", QStringLiteral("TWI-Bitrate (Frequenz=2500kHz/(Bitrate+2); 10 bis 255)"),
                   QStringLiteral("25kHz -> 98; 50kHz -> 48; 100kHz -> 23"));
    edtCloudAlpha_ = CreateEdit(
        "edtCloudAlpha", QStringLiteral("Wolke: Bedeckung (0: dunkel, 65535: hell wie ohne Wolke) bzw. Schrittweite"));
    edtCloudStep_ =
        CreateEdit("edtCloudStep", QString(), QStringLiteral("Geschwindigkeit, mit der die Wolke aufzieht"));
    edtStormAlpha_ = CreateEdit(
        "edtStormAlpha", QStringLiteral("Gewitter: Bedeckung (0: dunkel, 65535: wie ohne Gewitter) bzw. Schrittweite"));
    edtStormStep_ =
        CreateEdit("edtStormStep", QString(), QStringLiteral("Geschwindigkeit, mit der das Gewitter aufzieht"));
    edtLightningP_ =
        CreateEdit("edtLightningP", QStringLiteral("Blitz: Wahrscheinlichkeit für Beginn bzw. Ende (0 bis 65535)"));
    edtLightningD_ = CreateEdit("edtLightningD", QString());
    CreateChannelLine(edtLightning_, "edtLightning", QStringLiteral("Blitz auf folgenden Kanälen (0 bis 100%) A"),
                      QStringLiteral("E"));
    edtTempOffset_ = CreateEdit("edtTempOffset", QStringLiteral("Offset für den Temperatursensor (°C)"));

    rbtFMOLED_ = new QRadioButton(QStringLiteral("Helligkeitsgesteuerte Lüfter zum Kühlen der LEDs"), page);
    rbtFMOLED_->setObjectName(QStringLiteral("rbtFMOLED"));
    rbtFMOWater_ = new QRadioButton(QStringLiteral("Temperaturgeregelte Lüfter (z.B. zum Kühlen des Wassers)"), page);
    rbtFMOWater_->setObjectName(QStringLiteral("rbtFMOWater"));
    fanModeGroup_ = new QButtonGroup(this);
    fanModeGroup_->addButton(rbtFMOLED_);
    fanModeGroup_->addButton(rbtFMOWater_);

    edtTempWaterLow_ = CreateEdit("edtTempWaterLow", QStringLiteral("Temperatur, bei der die Lüfter anlaufen (°C)"));
    edtTempWaterHigh_ = CreateEdit(
        "edtTempWaterHigh", QStringLiteral("Temperatur, bei der die Lüfter ihre Maximaldrehzahl erreichen (°C)"));
    edtFullmoonTransit_ = CreateEdit("edtFullmoonTransit", QStringLiteral("Zeit des Vollmondhöchststandes (HH:MM)"));
    CreateChannelLine(edtMoon_, "edtMoon", QStringLiteral("Mond auf folgenden Kanälen (0 bis 255) A"),
                      QStringLiteral("(wobei 255 etwa 6% Helligkeit entspricht) E"));

    connect(edtPoweronPosition_, &QLineEdit::textChanged, this, &ExpertPage::edtPoweronPositionChange);
    connect(edtPWMPrescaler_, &QLineEdit::textChanged, this, &ExpertPage::edtPWMPrescalerChange);
    connect(edtTWIBitrate_, &QLineEdit::textChanged, this, &ExpertPage::edtTWIBitrateChange);
    connect(edtCloudAlpha_, &QLineEdit::textChanged, this, &ExpertPage::edtCloudAlphaChange);
    connect(edtCloudStep_, &QLineEdit::textChanged, this, &ExpertPage::edtCloudStepChange);
    connect(edtStormAlpha_, &QLineEdit::textChanged, this, &ExpertPage::edtStormAlphaChange);
    connect(edtStormStep_, &QLineEdit::textChanged, this, &ExpertPage::edtStormStepChange);
    connect(edtLightningP_, &QLineEdit::textChanged, this, &ExpertPage::edtLightningPChange);
    connect(edtLightningD_, &QLineEdit::textChanged, this, &ExpertPage::edtLightningDChange);
    for (LabeledEdit* edit : edtLightning_)
        connect(edit, &QLineEdit::textChanged, this, &ExpertPage::edtLightning0Change);
    for (LabeledEdit* edit : edtMoon_) connect(edit, &QLineEdit::textChanged, this, &ExpertPage::edtMoon0Change);
    connect(edtTempOffset_, &QLineEdit::textChanged, this, &ExpertPage::edtTempOffsetChange);
    // A button that becomes checked, by the user or by the program, runs its handler once;
    // a click on the button already checked changes nothing.
    connect(rbtFMOLED_, &QAbstractButton::toggled, this, [this](bool on) {
        if (on) rbtFMOLEDClick();
    });
    connect(rbtFMOWater_, &QAbstractButton::toggled, this, [this](bool on) {
        if (on) rbtFMOWaterClick();
    });
    connect(edtTempWaterLow_, &QLineEdit::textChanged, this, &ExpertPage::edtTempWaterLowChange);
    connect(edtTempWaterHigh_, &QLineEdit::textChanged, this, &ExpertPage::edtTempWaterHighChange);
    connect(edtFullmoonTransit_, &QLineEdit::textChanged, this, &ExpertPage::edtFullmoonTransitChange);
    // The poll does not refresh these edits: one the user leaves shows the board's value
    // again, not a text that was never sent or that an import has replaced since.
    std::vector<LabeledEdit*> unpolled = {edtCloudAlpha_, edtCloudStep_,  edtStormAlpha_, edtStormStep_,
                                          edtLightningP_, edtLightningD_, edtTempOffset_, edtFullmoonTransit_};
    unpolled.insert(unpolled.end(), edtLightning_.begin(), edtLightning_.end());
    unpolled.insert(unpolled.end(), edtMoon_.begin(), edtMoon_.end());
    for (LabeledEdit* edit : unpolled) {
        connect(edit, &LabeledEdit::focusLeft, this, [this] {
            ShowWeatherFields();
            ShowOffsetAndTransit();
        });
    }

    Layout();
}

LabeledEdit* ExpertPage::CreateEdit(const char* name, const QString& label, const QString& hint) {
    auto* edit = new LabeledEdit(label, page_);
    edit->setObjectName(QLatin1String(name));
    if (!hint.isEmpty()) edit->SetHint(hint);
    return edit;
}

QLabel* ExpertPage::CreateNote(const char* name, const QString& text) {
    auto* label = new QLabel(text, page_);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

void ExpertPage::CreateChannelLine(std::array<LabeledEdit*, kChannelCount>& edits, const char* prefix,
                                   const QString& firstLabel, const QString& fifthLabel) {
    for (int n = 0; n < kChannelCount; ++n) {
        QString label = QString(QLatin1Char(static_cast<char>('A' + n)));
        if (n == 0) label = firstLabel;
        if (n == 4) label = fifthLabel;
        LabeledEdit* edit = CreateEdit((QLatin1String(prefix) + QString::number(n)).toLatin1().constData(), label);
        edit->setProperty("tag", n);
        edits[static_cast<std::size_t>(n)] = edit;
    }
}

void ExpertPage::Layout() {
    int top = kTop;
    auto single = [&](LabeledEdit* edit) { PlaceOnLine(edit, kEditLeft, kWideEditWidth, top, kLineHeightHere); };
    auto pair = [&](LabeledEdit* first, LabeledEdit* second) {
        single(first);
        PlaceOnLine(second, kEditLeft + kWideEditWidth + kPairGap, kWideEditWidth, top, kLineHeightHere);
    };
    auto channels = [&](const std::array<LabeledEdit*, kChannelCount>& edits) {
        for (int n = 0; n < kChannelCount; ++n) {
            if (n > 0 && n % 4 == 0) top += kPitch;
            PlaceOnLine(edits[static_cast<std::size_t>(n)], kChannelEditLeft + kChannelPitch * (n % 4),
                        kChannelEditWidth, top, kLineHeightHere);
        }
    };
    auto radio = [&](QRadioButton* button) {
        button->setGeometry(kRadioLeft, top, kDesignPageWidth - kRadioLeft - kNoteLeft, kLineHeightHere);
    };
    // The two notes wrap onto as many lines as the font needs.
    auto note = [&](QLabel* label) {
        const int width = kDesignPageWidth - 2 * kNoteLeft;
        const int height = std::max(kLineHeightHere, label->heightForWidth(width));
        label->setGeometry(kNoteLeft, top, width, height);
        top += height + kPitch - kLineHeightHere;
    };
    auto next = [&] { top += kPitch; };

    single(edtPoweronPosition_);
    next();
    note(lblPWMPrescaler_);
    single(edtPWMPrescaler_);
    next();
    note(lblTWIBitrate_);
    single(edtTWIBitrate_);
    next();
    pair(edtCloudAlpha_, edtCloudStep_);
    next();
    pair(edtStormAlpha_, edtStormStep_);
    next();
    pair(edtLightningP_, edtLightningD_);
    next();
    channels(edtLightning_);
    next();
    single(edtTempOffset_);
    next();
    radio(rbtFMOLED_);
    next();
    radio(rbtFMOWater_);
    next();
    single(edtTempWaterLow_);
    next();
    single(edtTempWaterHigh_);
    next();
    single(edtFullmoonTransit_);
    next();
    channels(edtMoon_);
}

int ExpertPage::ChannelOf(QObject* control) const {
    if (!control) return -1;
    bool ok = false;
    const int channel = control->property("tag").toInt(&ok);
    return ok && channel >= 0 && channel < kChannelCount ? channel : -1;
}

void ExpertPage::ShowUnlessFocused(LabeledEdit* edit, const QString& text) {
    // The program never replaces what the user is typing.
    if (!edit->hasFocus()) edit->setText(text);
}

void ExpertPage::StoreInteger(LabeledEdit* edit, const QString& text, const std::function<void(long long)>& store) {
    if (!edit->hasFocus()) return;
    const std::optional<long long> value = ParseInteger(text.toStdString());
    if (!value) return;
    store(*value);
    board_.WriteDeviceConfig();
}

void ExpertPage::StoreTemperature(LabeledEdit* edit, const QString& text, const std::function<void(double)>& store) {
    if (!edit->hasFocus()) return;
    const std::optional<double> degrees = ParseDecimal(text);
    if (!degrees) return;
    store(*degrees);
    board_.WriteDeviceConfig();
}

void ExpertPage::edtPoweronPositionChange(const QString& text) {
    StoreInteger(edtPoweronPosition_, text, [this](long long v) { board_.config.PoweronPosition = Low8(v); });
}

void ExpertPage::edtPWMPrescalerChange(const QString& text) {
    StoreInteger(edtPWMPrescaler_, text, [this](long long v) { board_.config.PWMPrescaler = Low8(v); });
}

void ExpertPage::edtTWIBitrateChange(const QString& text) {
    StoreInteger(edtTWIBitrate_, text, [this](long long v) { board_.config.TWIBitrate = Low8(v); });
}

void ExpertPage::edtCloudAlphaChange(const QString& text) {
    StoreInteger(edtCloudAlpha_, text, [this](long long v) { board_.config.CloudAlpha = Low16(v); });
}

void ExpertPage::edtCloudStepChange(const QString& text) {
    StoreInteger(edtCloudStep_, text, [this](long long v) { board_.config.CloudStep = Low16(v); });
}

void ExpertPage::edtStormAlphaChange(const QString& text) {
    StoreInteger(edtStormAlpha_, text, [this](long long v) { board_.config.StormAlpha = Low16(v); });
}

void ExpertPage::edtStormStepChange(const QString& text) {
    StoreInteger(edtStormStep_, text, [this](long long v) { board_.config.StormStep = Low16(v); });
}

void ExpertPage::edtLightningPChange(const QString& text) {
    StoreInteger(edtLightningP_, text, [this](long long v) { board_.config.LightningP = Low16(v); });
}

void ExpertPage::edtLightningDChange(const QString& text) {
    StoreInteger(edtLightningD_, text, [this](long long v) { board_.config.LightningD = Low16(v); });
}

void ExpertPage::edtLightning0Change(const QString& text) {
    const int n = ChannelOf(sender());
    if (n < 0) return;
    StoreInteger(edtLightning_[static_cast<std::size_t>(n)], text,
                 [this, n](long long v) { board_.config.LightningColor[static_cast<std::size_t>(n)] = Low8(v); });
}

void ExpertPage::edtMoon0Change(const QString& text) {
    const int n = ChannelOf(sender());
    if (n < 0) return;
    StoreInteger(edtMoon_[static_cast<std::size_t>(n)], text,
                 [this, n](long long v) { board_.config.MoonColor[static_cast<std::size_t>(n)] = Low8(v); });
}

void ExpertPage::edtTempOffsetChange(const QString& text) {
    StoreTemperature(edtTempOffset_, text, [this](double d) { board_.config.TempOffset = Tenths8FromDegrees(d); });
}

void ExpertPage::edtTempWaterLowChange(const QString& text) {
    StoreTemperature(edtTempWaterLow_, text, [this](double d) { board_.config.TempWaterLow = Tenths16FromDegrees(d); });
}

void ExpertPage::edtTempWaterHighChange(const QString& text) {
    StoreTemperature(edtTempWaterHigh_, text,
                     [this](double d) { board_.config.TempWaterHigh = Tenths16FromDegrees(d); });
}

void ExpertPage::edtFullmoonTransitChange(const QString& text) {
    if (!edtFullmoonTransit_->hasFocus()) return;
    // A bad minute leaves the new hour in the record unsent, for the next write of any setting.
    if (StoreTypedTime(text.toStdString(), board_.config.FullmoonTransitHour, board_.config.FullmoonTransitMinute))
        board_.WriteDeviceConfig();
}

void ExpertPage::SetWaterEditsEnabled(bool enabled) {
    edtTempWaterLow_->setEnabled(enabled);
    edtTempWaterHigh_->setEnabled(enabled);
}

void ExpertPage::rbtFMOLEDClick() {
    board_.config.FanMode = 0;
    SetWaterEditsEnabled(false);
    board_.WriteDeviceConfig();
}

void ExpertPage::rbtFMOWaterClick() {
    board_.config.FanMode = 1;
    SetWaterEditsEnabled(true);
    board_.WriteDeviceConfig();
}

void ExpertPage::ShowWeatherFields() {
    const DeviceConfig& c = board_.config;
    ShowUnlessFocused(edtCloudAlpha_, Decimal(c.CloudAlpha));
    ShowUnlessFocused(edtCloudStep_, Decimal(c.CloudStep));
    ShowUnlessFocused(edtStormAlpha_, Decimal(c.StormAlpha));
    ShowUnlessFocused(edtStormStep_, Decimal(c.StormStep));
    ShowUnlessFocused(edtLightningP_, Decimal(c.LightningP));
    ShowUnlessFocused(edtLightningD_, Decimal(c.LightningD));
    for (std::size_t n = 0; n < edtLightning_.size(); ++n)
        ShowUnlessFocused(edtLightning_[n], Decimal(c.LightningColor[n]));
    for (std::size_t n = 0; n < edtMoon_.size(); ++n) ShowUnlessFocused(edtMoon_[n], Decimal(c.MoonColor[n]));
}

void ExpertPage::ShowOffsetAndTransit() {
    const DeviceConfig& c = board_.config;
    ShowUnlessFocused(edtTempOffset_, TemperatureText(c.TempOffset));
    ShowUnlessFocused(edtFullmoonTransit_,
                      QString::fromStdString(FormatTimeOfDay(c.FullmoonTransitHour, c.FullmoonTransitMinute)));
}

void ExpertPage::RefreshFanMode() {
    // Another value checks nothing and leaves the group as it is.
    if (board_.config.FanMode == 0) rbtFMOLED_->setChecked(true);
    if (board_.config.FanMode == 1) rbtFMOWater_->setChecked(true);
    rbtFMOWater_->setEnabled(board_.live.Temperature != kNoTemperatureSensor);
    SetWaterEditsEnabled(rbtFMOWater_->isChecked());
}

void ExpertPage::RefreshEdits() {
    const DeviceConfig& c = board_.config;
    ShowUnlessFocused(edtTempWaterLow_, TemperatureText(c.TempWaterLow));
    ShowUnlessFocused(edtTempWaterHigh_, TemperatureText(c.TempWaterHigh));
    ShowUnlessFocused(edtPoweronPosition_, Decimal(c.PoweronPosition));
    ShowUnlessFocused(edtPWMPrescaler_, Decimal(c.PWMPrescaler));
    ShowUnlessFocused(edtTWIBitrate_, Decimal(c.TWIBitrate));
}

}  // namespace quelvan
