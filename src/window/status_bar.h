#pragma once
// The window's status bar `sb`: four panels side by side. Panels 1 to 3 keep their scaled
// widths at the right edge; panel 0 takes whatever is left (sbResize). A text too long for
// its panel is cut with "…" and shown whole as the panel's tool tip.

#include <QStatusBar>
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

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void sbResize();
    void ShowText(std::size_t panel);

    double ppi_;
    std::array<QLabel*, kPanelCount> panels_{};
    std::array<QString, kPanelCount> texts_{};
    std::array<int, kPanelCount> widths_{};
};

// Round(value × ppi / 96), halves to even: how every design size is scaled.
int ScaleForPpi(int value, double ppi);

}  // namespace quelvan
