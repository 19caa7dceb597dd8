#pragma once
// A one-line edit with its label on the left. The label is a sibling widget that the edit
// keeps in place: right-aligned, ending a few pixels before the edit, vertically centred,
// and shown, hidden, enabled and disabled together with the edit.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

namespace quelvan {

class LabeledEdit : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kLabelSpacing = 4;

    explicit LabeledEdit(QWidget* parent = nullptr);
    LabeledEdit(const QString& labelText, QWidget* parent);
    ~LabeledEdit() override;

    QLabel* EditLabel() const { return label_; }
    QString LabelText() const;
    void SetLabelText(const QString& text);
    // The hint shown over the edit and over its label.
    void SetHint(const QString& text);

signals:
    // The keyboard focus went to another control (not to a menu, a dialog or another window,
    // after which it comes back).
    void focusLeft();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PlaceLabel();

    QPointer<QLabel> label_;
};

}  // namespace quelvan
