#pragma once
// The page control `pc`: a tab widget whose tabs wrap onto several rows when they do not fit
// in one, and that tells page changes the user makes (clicking a tab, the keyboard on the
// tabs, Ctrl+Tab) from the ones the program makes. Only the user's changes upload and
// reload the schedule.

#include <QPointer>
#include <QTabWidget>

namespace quelvan {

class WrappingTabBar;

class PageTabWidget : public QTabWidget {
    Q_OBJECT
public:
    explicit PageTabWidget(QWidget* parent = nullptr);

    WrappingTabBar& Tabs() const;

signals:
    // After the user moved from `left` to `entered` (either may be null).
    void userPageChanged(QWidget* left, QWidget* entered);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CurrentChanged(int index);

    QPointer<QWidget> current_;
    int userInput_ = 0;  // depth of user input being handled on the tabs

    friend class PageTabBar;
};

}  // namespace quelvan
