#include "window/bevel_panel.h"

#include <QMouseEvent>

namespace quelvan {

BevelPanel::BevelPanel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAlignment(Qt::AlignCenter);
    setLineWidth(2);
    SetLowered(false);
}

void BevelPanel::SetLowered(bool lowered) {
    lowered_ = lowered;
    setFrameStyle(QFrame::Panel | (lowered ? QFrame::Sunken : QFrame::Raised));
}

void BevelPanel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    // A click is a press and release of the left button over the panel; like a panel, it
    // takes no keyboard focus.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && isEnabled())
        emit clicked();
}

}  // namespace quelvan
