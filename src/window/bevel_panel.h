#pragma once
// A panel with a caption and a raised or lowered bevel that reports clicks: the two panels
// under a two-value track bar, of which the lowered one is the selected one.

#include <QLabel>

namespace quelvan {

class BevelPanel : public QLabel {
    Q_OBJECT
public:
    BevelPanel(const QString& caption, QWidget* parent);

    bool IsLowered() const { return lowered_; }
    void SetLowered(bool lowered);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool lowered_ = false;
};

}  // namespace quelvan
