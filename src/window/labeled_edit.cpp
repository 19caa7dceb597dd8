#include "window/labeled_edit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <algorithm>

namespace quelvan {

LabeledEdit::LabeledEdit(QWidget* parent) : LabeledEdit(QString(), parent) {}

LabeledEdit::LabeledEdit(const QString& labelText, QWidget* parent) : QLineEdit(parent) {
    label_ = new QLabel(labelText, parent);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_->setBuddy(this);
    PlaceLabel();
}

LabeledEdit::~LabeledEdit() {
    delete label_.data();
}

QString LabeledEdit::LabelText() const {
    return label_ ? label_->text() : QString();
}

void LabeledEdit::SetLabelText(const QString& text) {
    if (!label_) return;
    label_->setText(text);
    PlaceLabel();
}

void LabeledEdit::SetHint(const QString& text) {
    setToolTip(text);
    if (label_) label_->setToolTip(text);
}

void LabeledEdit::PlaceLabel() {
    if (!label_) return;
    const QSize hint = label_->sizeHint();
    const int height = std::max(hint.height(), this->height());
    label_->setGeometry(x() - kLabelSpacing - hint.width(), y() + (this->height() - height) / 2, hint.width(), height);
}

bool LabeledEdit::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ParentChange:
            // The label lives beside the edit, so it moves to the edit's new parent.
            if (label_) {
                label_->setParent(parentWidget());
                label_->setVisible(parentWidget() && !isHidden());
                PlaceLabel();
            }
            break;
        case QEvent::ShowToParent:
            if (label_ && label_->parentWidget()) label_->show();
            break;
        case QEvent::HideToParent:
            if (label_) label_->hide();
            break;
        default:
            break;
    }
    return QLineEdit::event(event);
}

void LabeledEdit::moveEvent(QMoveEvent* event) {
    QLineEdit::moveEvent(event);
    PlaceLabel();
}

void LabeledEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    PlaceLabel();
}

void LabeledEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) emit focusLeft();
}

void LabeledEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && label_) label_->setEnabled(isEnabled());
    QLineEdit::changeEvent(event);
}

}  // namespace quelvan
