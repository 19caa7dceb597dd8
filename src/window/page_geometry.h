#pragma once
// Design geometry shared by the settings pages, in pixels at design size: pages are laid out
// for a width of 674 and stretch their track bars (and whatever stands at the right edge)
// when wider.

#include <QWidget>
#include <algorithm>

namespace quelvan::page {

constexpr int kDesignPageWidth = 674;
constexpr int kTrackLeft = 24;
constexpr int kTrackWidth = 622;
constexpr int kTrackHeight = 45;
constexpr int kLineBelowTrack = 40;  // the line of edits and buttons under a track bar
constexpr int kLineHeight = 25;
constexpr int kEditWidth = 49;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

// How much wider than designed the page is.
inline int ExtraWidth(const QWidget* page) {
    return std::max(0, page->width() - kDesignPageWidth);
}

// A control of the given width, vertically centred on a line that starts at `lineTop`.
inline void PlaceOnLine(QWidget* widget, int left, int width, int lineTop, int lineHeight = kLineHeight) {
    const int height = std::min(widget->sizeHint().height(), lineHeight);
    widget->setGeometry(left, lineTop + (lineHeight - height) / 2, width, height);
}

}  // namespace quelvan::page
