#pragma once
// Page "Wetter/Mond": how often and how long clouds and thunderstorms come, as numbers per
// day and average durations that are turned into the board's four probabilities, with the
// share of weather time beside them; below them the moon.

#include <QObject>

class QLabel;
class QWidget;

namespace quelvan {

class BoardProtocol;
class LabeledEdit;
class MoonDisplay;
class TrackBar;

class WeatherPage : public QObject {
    Q_OBJECT
public:
    WeatherPage(BoardProtocol& board, QWidget* page, QObject* parent = nullptr);

    MoonDisplay& Moon() { return *moon_; }

    // The poll's share, each in its place of the settings refresh.
    void RefreshClouds();
    void RefreshStorms();
    void RefreshShares();

    // Both fields of a pair from the positions of both track bars, then the record is written.
    void UpdateCloudProbabilities();
    void UpdateStormProbabilities();

public slots:
    void trbCloudCountChange(int position);
    void edtCloudCountChange(const QString& text);
    void trbCloudSecondsChange(int position);
    void edtCloudSecondsChange(const QString& text);
    void trbStormCountChange(int position);
    void edtStormCountChange(const QString& text);
    void trbStormMinutesChange(int position);
    void edtStormMinutesChange(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A track bar with its edit below it.
    struct Row {
        TrackBar* trb = nullptr;
        LabeledEdit* edt = nullptr;
    };

    Row CreateRow(const char* name, const QString& label, int minimum, int maximum, int page, int ticks);
    // The track bar moved by the user: the edit shows it, the pair is recomputed.
    void TrackBarMoved(const Row& row, int position, void (WeatherPage::*update)());
    // A number typed: the track bar takes it (limited to its range), the pair is recomputed.
    void NumberTyped(const Row& row, const QString& text, void (WeatherPage::*update)());
    static void ShowPosition(const Row& row, long long value);
    void Layout();

    BoardProtocol& board_;
    QWidget* page_;
    Row cloudCount_;
    Row cloudSeconds_;
    Row stormCount_;
    Row stormMinutes_;
    QLabel* lblCloudRatio_ = nullptr;
    QLabel* lblStormRatio_ = nullptr;
    QLabel* lblDescription3_ = nullptr;
    MoonDisplay* moon_ = nullptr;
};

}  // namespace quelvan
