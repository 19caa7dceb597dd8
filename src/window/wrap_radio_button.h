#pragma once
// A radio button whose caption wraps onto further lines within the button's width, for long
// captions in a narrow column. text() stays the caption as given.

#include <QRadioButton>

namespace quelvan {

class WrapRadioButton : public QRadioButton {
    Q_OBJECT
public:
    WrapRadioButton(const QString& caption, QWidget* parent);

    // The height the caption needs at this width.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QRect TextRect(const QRect& bounds) const;
    int IndicatorWidth() const;
};

}  // namespace quelvan
