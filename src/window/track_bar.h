#pragma once
// A horizontal track bar: a slider with tick marks on both sides and an optional
// selection band, a highlighted stretch of the groove between two values. The mouse wheel
// moves only a track bar that has the keyboard focus, one arrow-key step per notch.

#include <QSlider>

namespace quelvan {

class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

    // Range, arrow-key step, page step and tick distance in one call.
    void Configure(int minimum, int maximum, int arrowStep, int pageStep, int tickInterval);

    // The band runs from `start` to `end` (swapped when given the other way round); values
    // outside the range are drawn at the range's ends. A band of one value shows as a
    // thin mark.
    void setSelection(int start, int end);
    void clearSelection();
    bool hasSelection() const { return hasSelection_; }
    int selectionStart() const { return selectionStart_; }
    int selectionEnd() const { return selectionEnd_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int PixelOf(int value) const;

    int wheelRemainder_ = 0;  // eighths of a degree short of a whole notch
    bool hasSelection_ = false;
    int selectionStart_ = 0;
    int selectionEnd_ = 0;
};

}  // namespace quelvan
