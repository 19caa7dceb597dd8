#pragma once
// The window's status bar `sb`: four panels side by side. Panels 1 to 3 stay at the right
// edge, each as wide as its scaled design width or, where the window's font needs more, as
// its widest text (the samples it was given and the text it shows); panel 0 takes whatever
// is left (sbResize). A text too long for panel 0 is cut with "…" and shown whole as the
// panel's tool tip; every panel's whole text is its accessible description, so that it can
// be read without the mouse.

#include <QStatusBar>
#include <QStringList>
#include <array>

class QLabel;

namespace quelvan {

class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 4;

    // `ppi`: the screen's pixels per inch that every design size is scaled by.
    explicit PanelStatusBar(double ppi, QWidget* parent = nullptr);

    // The whole text, also when the panel shows it shortened.
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);
    int PanelWidth(int panel) const;
    // Texts that panel 1..3 must always show whole (the widest clock, every mode name): the
    // panel is made wide enough for them before any of them is shown.
    void SetPanelSamples(int panel, const QStringList& samples);
    // The width a panel needs to show `text` whole in its font, frame and indent included.
    int WidthForText(int panel, const QString& text) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void sbResize();
    void ShowText(std::size_t panel);
    // Panel 1..3's width: its design width, widened for its samples and its text.
    int RightPanelWidth(std::size_t panel) const;

    double ppi_;
    std::array<QLabel*, kPanelCount> panels_{};
    std::array<QString, kPanelCount> texts_{};
    std::array<int, kPanelCount> widths_{};
    std::array<QStringList, kPanelCount> samples_{};
};

// Round(value × ppi / 96), halves to even: how every design size is scaled.
int ScaleForPpi(int value, double ppi);

}  // namespace quelvan
