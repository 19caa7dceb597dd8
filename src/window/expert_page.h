#pragma once
// Page "Expertenoptionen": the board's raw settings as plain numbers (start position, PWM
// prescaler, bus bit rate, cloud and storm cover and step, lightning probabilities), the
// per-channel lightning and moon levels, the temperature sensor offset, the fan mode with
// its two temperatures, and the full moon's transit time.

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

#include "device/records.h"

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QRadioButton;
class QWidget;

namespace quelvan {

class BoardProtocol;
class LabeledEdit;

class ExpertPage : public QObject {
    Q_OBJECT
public:
    ExpertPage(BoardProtocol& board, QWidget* page, QObject* parent = nullptr);

    // The fields the poll does not refresh (on connection and after an import): cover, step,
    // lightning probabilities, lightning and moon levels ...
    void ShowWeatherFields();
    // ... and the sensor offset and the full moon's transit.
    void ShowOffsetAndTransit();
    // The poll's share: the fan mode with its enabling rules, then the polled edits.
    void RefreshFanMode();
    void RefreshEdits();

public slots:
    void edtPoweronPositionChange(const QString& text);
    void edtPWMPrescalerChange(const QString& text);
    void edtTWIBitrateChange(const QString& text);
    void edtCloudAlphaChange(const QString& text);
    void edtCloudStepChange(const QString& text);
    void edtStormAlphaChange(const QString& text);
    void edtStormStepChange(const QString& text);
    void edtLightningPChange(const QString& text);
    void edtLightningDChange(const QString& text);
    void edtLightning0Change(const QString& text);
    void edtMoon0Change(const QString& text);
    void edtTempOffsetChange(const QString& text);
    void rbtFMOLEDClick();
    void rbtFMOWaterClick();
    void edtTempWaterLowChange(const QString& text);
    void edtTempWaterHighChange(const QString& text);
    void edtFullmoonTransitChange(const QString& text);

private:
    LabeledEdit* CreateEdit(const char* name, const QString& label, const QString& hint = QString());
    QLabel* CreateNote(const char* name, const QString& text);
    void CreateChannelLine(std::array<LabeledEdit*, kChannelCount>& edits, const char* prefix,
                           const QString& firstLabel, const QString& fifthLabel);
    void Layout();
    // The typed text as a whole signed integer, stored by `store` (as its low bits), then
    // the record is written. Acts only while the edit has the focus.
    void StoreInteger(LabeledEdit* edit, const QString& text, const std::function<void(long long)>& store);
    // The typed text as degrees, stored by `store` as tenths, then the record is written.
    void StoreTemperature(LabeledEdit* edit, const QString& text, const std::function<void(double)>& store);
    int ChannelOf(QObject* control) const;
    static void ShowUnlessFocused(LabeledEdit* edit, const QString& text);
    void SetWaterEditsEnabled(bool enabled);

    BoardProtocol& board_;
    QWidget* page_;
    LabeledEdit* edtPoweronPosition_ = nullptr;
    QLabel* lblPWMPrescaler_ = nullptr;
    LabeledEdit* edtPWMPrescaler_ = nullptr;
    QLabel* lblTWIBitrate_ = nullptr;
    LabeledEdit* edtTWIBitrate_ = nullptr;
    LabeledEdit* edtCloudAlpha_ = nullptr;
    LabeledEdit* edtCloudStep_ = nullptr;
    LabeledEdit* edtStormAlpha_ = nullptr;
    LabeledEdit* edtStormStep_ = nullptr;
    LabeledEdit* edtLightningP_ = nullptr;
    LabeledEdit* edtLightningD_ = nullptr;
    std::array<LabeledEdit*, kChannelCount> edtLightning_{};
    LabeledEdit* edtTempOffset_ = nullptr;
    QButtonGroup* fanModeGroup_ = nullptr;
    QRadioButton* rbtFMOLED_ = nullptr;
    QRadioButton* rbtFMOWater_ = nullptr;
    LabeledEdit* edtTempWaterLow_ = nullptr;
    LabeledEdit* edtTempWaterHigh_ = nullptr;
    LabeledEdit* edtFullmoonTransit_ = nullptr;
    std::array<LabeledEdit*, kChannelCount> edtMoon_{};
};

}  // namespace quelvan
