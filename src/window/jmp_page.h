#pragma once
// Page "JMP-Pin": what pin 5 of the board's link port does (remote-control learning, or an
// active-low output on thunderstorms or temperatures), the hysteresis temperatures, and a
// picture of two example circuits on that pin.

#include <QObject>
#include <array>

class QButtonGroup;
class QLabel;
class QRadioButton;
class QWidget;

namespace quelvan {

class BoardProtocol;
class LabeledEdit;

class JmpPage : public QObject {
    Q_OBJECT
public:
    static constexpr int kPictureWidth = 346;
    static constexpr int kPictureHeight = 486;

    JmpPage(BoardProtocol& board, QWidget* page, QObject* parent = nullptr);

    // On connection and after an import: JMPMode checks its button (any other value leaves
    // the group as it is) ...
    void ShowJmpMode();
    // ... and the two hysteresis temperatures.
    void ShowTemperatures();

public slots:
    void rbtJMPIRLearnClick();
    void rbtJMPStormClick();
    void rbtJMPCoolerClick();
    void rbtJMPHeaterClick();
    void edtTempJMPLowChange(const QString& text);
    void edtTempJMPHighChange(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRadioButton* CreateMode(const char* name, const QString& caption, bool warning);
    void SetMode(int mode, bool temperatureEdits);
    void StoreTemperature(LabeledEdit* edit, const QString& text, std::int16_t& field);
    void Layout();

    BoardProtocol& board_;
    QWidget* page_;
    QButtonGroup* group_ = nullptr;
    std::array<QRadioButton*, 4> modes_{};  // JMPMode 0..3
    QLabel* lblJMPWarning1_ = nullptr;
    QLabel* lblJMPWarning2_ = nullptr;
    LabeledEdit* edtTempJMPLow_ = nullptr;
    LabeledEdit* edtTempJMPHigh_ = nullptr;
    QLabel* imgLink_ = nullptr;
};

}  // namespace quelvan
