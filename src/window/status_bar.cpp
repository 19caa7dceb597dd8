#include "window/status_bar.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

#include "device/numeric.h"

namespace quelvan {

namespace {

constexpr int kDesignHeight = 24;
constexpr std::array<int, PanelStatusBar::kPanelCount> kDesignWidths = {280, 80, 60, 130};
constexpr std::array<Qt::Alignment, PanelStatusBar::kPanelCount> kAlignments = {
    Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter, Qt::AlignCenter, Qt::AlignCenter};

}  // namespace

int ScaleForPpi(int value, double ppi) {
    return static_cast<int>(RoundHalfEven(value * ppi / 96.0));
}

PanelStatusBar::PanelStatusBar(double ppi, QWidget* parent) : QStatusBar(parent), ppi_(ppi) {
    setObjectName("sb");
    setSizeGripEnabled(false);
    setFixedHeight(ScaleForPpi(kDesignHeight, ppi_));
    for (int i = 0; i < kPanelCount; ++i) {
        // Not added through the status bar's own layout: the panels are placed by sbResize,
        // so that their widths are exactly the scaled design widths.
        auto* label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(kAlignments[static_cast<std::size_t>(i)]);
        label->setIndent(2);
        label->setObjectName(QStringLiteral("sbPanel%1").arg(i));
        panels_[static_cast<std::size_t>(i)] = label;
    }
    sbResize();
}

QString PanelStatusBar::PanelText(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    return texts_[static_cast<std::size_t>(panel)];
}

void PanelStatusBar::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount) return;
    const auto i = static_cast<std::size_t>(panel);
    texts_[i] = text;
    // A right panel too narrow for its new text makes room for it at panel 0's expense.
    if (i > 0 && RightPanelWidth(i) != widths_[i])
        sbResize();
    else
        ShowText(i);
}

void PanelStatusBar::SetPanelSamples(int panel, const QStringList& samples) {
    if (panel < 1 || panel >= kPanelCount) return;
    samples_[static_cast<std::size_t>(panel)] = samples;
    sbResize();
}

int PanelStatusBar::WidthForText(int panel, const QString& text) const {
    if (panel < 0 || panel >= kPanelCount) return 0;
    const QLabel* label = panels_[static_cast<std::size_t>(panel)];
    // The same room as ShowText leaves inside the frame, with the indent on either side.
    // One pixel more for the rounding of the glyphs' fractional widths.
    return label->fontMetrics().horizontalAdvance(text) + 2 * label->indent() + 2 * label->frameWidth() + 1;
}

int PanelStatusBar::RightPanelWidth(std::size_t panel) const {
    int width = ScaleForPpi(kDesignWidths[panel], ppi_);
    const int i = static_cast<int>(panel);
    for (const QString& sample : samples_[panel]) width = std::max(width, WidthForText(i, sample));
    return std::max(width, WidthForText(i, texts_[panel]));
}

void PanelStatusBar::ShowText(std::size_t panel) {
    QLabel* label = panels_[panel];
    const QString& text = texts_[panel];
    // The room inside the frame and the indent on either side.
    const int room = label->contentsRect().width() - 2 * label->indent();
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, room));
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
    // Also a shortened text can be read whole by a screen reader or other assistive tool.
    label->setAccessibleDescription(text);
}

int PanelStatusBar::PanelWidth(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return 0;
    return widths_[static_cast<std::size_t>(panel)];
}

void PanelStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    sbResize();
}

void PanelStatusBar::sbResize() {
    // The design's right part is Round(ppi × 270 / 96), which can be a pixel more than its
    // panels rounded one by one; a panel widened for its text adds its excess.
    int right = ScaleForPpi(kDesignWidths[1] + kDesignWidths[2] + kDesignWidths[3], ppi_);
    for (std::size_t i = 1; i < panels_.size(); ++i) {
        widths_[i] = RightPanelWidth(i);
        right += widths_[i] - ScaleForPpi(kDesignWidths[i], ppi_);
    }
    widths_[0] = width() - right;
    int x = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        panels_[i]->setGeometry(x, 0, std::max(0, widths_[i]), height());
        x += std::max(0, widths_[i]);
        ShowText(i);
    }
}

}  // namespace quelvan
