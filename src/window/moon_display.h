#pragma once
// The moon on page "Wetter/Mond": today's transit time as a track bar and an HH:MM edit, and
// the picture of the moon's phase, which follows from that time and the full moon's transit.

#include <QImage>
#include <QObject>

class QLabel;
class QWidget;

namespace quelvan {

class BoardProtocol;
class LabeledEdit;
class TrackBar;

class MoonDisplay : public QObject {
    Q_OBJECT
public:
    MoonDisplay(BoardProtocol& board, QWidget* page, QObject* parent = nullptr);

    // Places the controls: the track bar at `top`, the edit and the picture below it.
    // Returns the bottom of the picture.
    int Layout(int top, int extra);

    // The board's transit time into the controls, then the picture (every poll).
    void RefreshMoonDisplay();
    // Phase and lit side from the two transit times, drawn into the cleared bitmap.
    void ShowMoonPhase();
    const QImage& Bitmap() const { return bitmap_; }

public slots:
    void trbMoonTransitChange(int position);
    void edtMoonTransitChange(const QString& text);

private:
    BoardProtocol& board_;
    TrackBar* trbMoonTransit_ = nullptr;
    LabeledEdit* edtMoonTransit_ = nullptr;
    QLabel* imgMoon_ = nullptr;
    QImage bitmap_;
};

}  // namespace quelvan
