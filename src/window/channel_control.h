#pragma once
// Manual channel control, channel naming and the board-clock controls: the two channel
// pages, the clock controls on the configuration page, and the all-on / all-off commands.

#include <QObject>
#include <QString>
#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class QWidget;

namespace quelvan {

class BoardProtocol;
class LabeledEdit;
class TrackBar;

class ChannelControl : public QObject {
    Q_OBJECT
public:
    // Height at the top of the configuration page taken by the clock controls; the
    // settings below them start there.
    static constexpr int kClockAreaHeight = 96;

    // Creates the twelve channel rows on the two channel pages and the clock controls
    // (trbTime, edtTime, btnNow) on the configuration page. `pc` is the page control
    // (the all-on/all-off commands make the first channel page active).
    ChannelControl(BoardProtocol& board, QTabWidget* pc, QWidget* channelsAF, QWidget* channelsGL, QWidget* configPage,
                   QObject* parent = nullptr);

    // Every channel's display name from ColorName: name choices (unless focused), edit
    // labels, and the hooks below (grid header cells, graph channel list).
    void ShowChannelNames();
    // One poll tick's share: track bars and percentage edits (not a focused edit) ...
    void RefreshChannels();
    // ... and the clock edit (unless focused) and clock track bar.
    void RefreshClock();
    // The note at the top of both channel pages that says why their controls are greyed out
    // (the board is not in mode "Manuell") and how to change that.
    void ShowModeHint(bool shown);

    // Later pages plug in here: the schedule grid's header cell for a channel column,
    // and the graph's channel choice with the graph's current channel. cmbVisualize is
    // refilled with its signals blocked, so refilling raises no change of graph channel.
    std::function<void(int column, const QString& name)> setGridHeader;
    QComboBox* cmbVisualize = nullptr;
    std::function<int()> currentGraphChannel;

    // How long the typing in a percentage edit must pause before the typed value is written.
    static constexpr int kTypingPauseMs = 500;
    // Runs from the last keystroke in a percentage edit (tmrTypedPercent); its timeout
    // writes the typed value (edtATypingPaused).
    QTimer& TypingTimer() const { return *typingPause_; }

    // How the all-on/all-off commands make the first channel page active. The default is
    // pc->setCurrentWidget; the main window replaces it to mark the change as made by the
    // program (such a page change does not upload the schedule).
    std::function<void(QWidget* page)> showPage;

public slots:
    void mnuAllOffClick();
    void mnuAllOnClick();
    // The typing in a percentage edit has paused: its value is written now.
    void edtATypingPaused();

private slots:
    void trbAChange(int position);
    void edtAChange(const QString& text);
    void btnOffAClick();
    void btnOnAClick();
    void cmbNameAChange(int index);
    void trbTimeChange(int position);
    void edtTimeChange(const QString& text);
    void btnNowClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ChannelRow {
        TrackBar* trb = nullptr;
        QLabel* lblName = nullptr;
        QComboBox* cmbName = nullptr;
        LabeledEdit* edt = nullptr;
        QPushButton* btnOff = nullptr;
        QPushButton* btnOn = nullptr;
    };

    void CreateRow(int channel, QWidget* page);
    void CreateModeHints();
    void CreateClockControls(QWidget* configPage);
    void LayoutChannelPage(QWidget* page);
    void LayoutClockControls();
    // The channel number a per-channel control carries, or -1.
    int ChannelOf(QObject* control) const;
    void SetChannel(int channel, int value);
    void SetAllChannels(int value);
    // Writes the value typed into edit `channel` if it is still waiting to be written.
    void WriteTypedPercent(int channel);
    // A value still waiting in an edit gives way to another change of its channel.
    void DropTypedPercent(int channel);

    BoardProtocol& board_;
    QWidget* channelsAF_;
    QWidget* channelsGL_;
    QWidget* configPage_;
    std::array<ChannelRow, 12> rows_{};
    std::array<QLabel*, 2> lblModeHint_{};  // on "Kanäle A-F" and "Kanäle G-L"
    TrackBar* trbTime_ = nullptr;
    LabeledEdit* edtTime_ = nullptr;
    QPushButton* btnNow_ = nullptr;
    QTimer* typingPause_ = nullptr;
    // The channel whose edit holds typed text not yet written, or -1. The text is written
    // whole when the typing pauses, on Enter or when the edit is left, so that "75" typed
    // over 80 does not send 7 % on the way.
    int typedChannel_ = -1;
    // Set while the program itself moves controls, so that their change handlers do not
    // take the program's values for user input.
    bool updating_ = false;
};

}  // namespace quelvan
