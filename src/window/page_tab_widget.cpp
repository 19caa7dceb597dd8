#include "window/page_tab_widget.h"

#include <QEvent>

#include "window/wrapping_tab_bar.h"

namespace quelvan {

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
            return true;
        default:
            return false;
    }
}

class InputScope {
public:
    explicit InputScope(int& depth) : depth_(depth) { ++depth_; }
    ~InputScope() { --depth_; }
    InputScope(const InputScope&) = delete;
    InputScope& operator=(const InputScope&) = delete;

private:
    int& depth_;
};

}  // namespace

// The tab bar marks every page change made while it handles the user's input.
class PageTabBar : public WrappingTabBar {
public:
    PageTabBar(PageTabWidget& owner) : WrappingTabBar(&owner), owner_(owner) {}

protected:
    bool event(QEvent* event) override {
        if (!IsUserInput(event->type())) return WrappingTabBar::event(event);
        const InputScope scope(owner_.userInput_);
        return WrappingTabBar::event(event);
    }

private:
    PageTabWidget& owner_;
};

PageTabWidget::PageTabWidget(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new PageTabBar(*this));
    connect(this, &QTabWidget::currentChanged, this, &PageTabWidget::CurrentChanged);
}

WrappingTabBar& PageTabWidget::Tabs() const {
    return *static_cast<WrappingTabBar*>(tabBar());
}

void PageTabWidget::keyPressEvent(QKeyEvent* event) {
    const InputScope scope(userInput_);
    QTabWidget::keyPressEvent(event);
}

void PageTabWidget::CurrentChanged(int index) {
    QWidget* left = current_;
    current_ = widget(index);
    if (userInput_ > 0 && left != current_) emit userPageChanged(left, current_);
}

}  // namespace quelvan
