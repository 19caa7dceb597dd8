#pragma once
// Page "Konfiguration" below the clock controls: the time-lapse factor, and the two
// two-value track bars for the display backlight and the fan stages, each with a pair of
// panels that chooses which of its two values the thumb edits.

#include <QObject>
#include <cstdint>

class QPushButton;
class QWidget;

namespace quelvan {

class BevelPanel;
class BoardProtocol;
class LabeledEdit;
class TrackBar;

class ConfigPage : public QObject {
    Q_OBJECT
public:
    // The controls go on `page` from `top` down (the clock controls stand above).
    ConfigPage(BoardProtocol& board, QWidget* page, int top, QObject* parent = nullptr);

    // The poll's share, each in its place of the settings refresh.
    void RefreshFan();
    void RefreshDisplay();
    void RefreshTimeLapse();

public slots:
    void panFanLowClick();
    void panFanHighClick();
    void trbFanChange(int position);
    void panDisplayMinClick();
    void panDisplayMaxClick();
    void trbDisplayChange(int position);
    void btnRealtimeClick();
    void trbTimeLapseChange(int position);
    void edtTimeLapseChange(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A track bar that edits a low and a high value, with the panel pair below it. The band
    // is kept here as set (low, high), also when the board sends low above high.
    struct TwoValueBar {
        TrackBar* trb = nullptr;
        BevelPanel* low = nullptr;
        BevelPanel* high = nullptr;
        int bandStart = 0;
        int bandEnd = 0;
    };

    TwoValueBar CreateTwoValueBar(const QString& lowCaption, const QString& highCaption);
    static void SetBand(TwoValueBar& bar, int low, int high);
    static void SelectPanel(TwoValueBar& bar, bool low);
    // The thumb moved: the selected value follows it and pushes the other along.
    void MoveThumb(TwoValueBar& bar, int position, std::uint8_t& low, std::uint8_t& high);
    static void Refresh(TwoValueBar& bar, std::uint8_t low, std::uint8_t high);
    void Layout();

    BoardProtocol& board_;
    QWidget* page_;
    int top_;
    TrackBar* trbTimeLapse_ = nullptr;
    LabeledEdit* edtTimeLapse_ = nullptr;
    QPushButton* btnRealtime_ = nullptr;
    TwoValueBar display_;
    TwoValueBar fan_;
};

}  // namespace quelvan
