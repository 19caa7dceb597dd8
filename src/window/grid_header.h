#pragma once
// The schedule grid's header row. Its captions are drawn across, or turned to read from the
// bottom up when the columns are too narrow for them across (a window too small for twelve
// colour names side by side); the first section ("Zeit") always reads across.

#include <QHeaderView>

namespace quelvan {

class GridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridHeader(QWidget* parent = nullptr);

    bool TextsTurned() const { return turned_; }
    // Turns the captions (all sections but the first); the header then stands as high as
    // `height`.
    void SetTextsTurned(bool turned, int height);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    bool turned_ = false;
};

}  // namespace quelvan
