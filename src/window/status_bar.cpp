#include "window/status_bar.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

#include "device/numeric.h"

namespace quelvan {

namespace {

constexpr int kDesignHeight = 24;
constexpr std::array<int, PanelStatusBar::kPanelCount> kDesignWidths = {280, 80, 60, 130};
// Panels 1 to 3 together, the part that stays at the right edge.
constexpr int kDesignRightPanels = 80 + 60 + 130;
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
        widths_[static_cast<std::size_t>(i)] = ScaleForPpi(kDesignWidths[static_cast<std::size_t>(i)], ppi_);
    }
    sbResize();
}

QString PanelStatusBar::PanelText(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    return texts_[static_cast<std::size_t>(panel)];
}

void PanelStatusBar::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount) return;
    texts_[static_cast<std::size_t>(panel)] = text;
    ShowText(static_cast<std::size_t>(panel));
}

void PanelStatusBar::ShowText(std::size_t panel) {
    QLabel* label = panels_[panel];
    const QString& text = texts_[panel];
    // The room inside the frame and the indent on either side.
    const int room = label->contentsRect().width() - 2 * label->indent();
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, room));
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
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
    widths_[0] = width() - static_cast<int>(RoundHalfEven(ppi_ * kDesignRightPanels / 96.0));
    int x = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        panels_[i]->setGeometry(x, 0, std::max(0, widths_[i]), height());
        x += std::max(0, widths_[i]);
        ShowText(i);
    }
}

}  // namespace quelvan
