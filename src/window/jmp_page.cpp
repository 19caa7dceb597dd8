#include "window/jmp_page.h"

#include <QButtonGroup>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "device/board_protocol.h"
#include "device/temperature_text.h"
#include "window/labeled_edit.h"
#include "window/number_format.h"
#include "window/page_geometry.h"
#include "window/wrap_radio_button.h"

// The window library is static: its resources are registered by hand.
static void InitWindowResources() {
    Q_INIT_RESOURCE(window_resources);
}

namespace quelvan {

using namespace page;

namespace {

constexpr int kLeft = 8;
constexpr int kTop = 8;
constexpr int kPictureRightMargin = 8;
constexpr int kColumnGap = 12;
constexpr int kSpacing = 6;
constexpr int kTempEditWidth = 49;

void MakeRed(QWidget* widget) {
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(QPalette::Active, role, Qt::red);
        palette.setColor(QPalette::Inactive, role, Qt::red);
    }
    widget->setPalette(palette);
}

// The schematic, drawn black on white from its vector form: at its design size, or smaller
// where the page has less room (drawn anew rather than a bitmap scaled down, so that the
// lines stay smooth and thin lines do not vanish).
QPixmap LinkPortPicture(QSize size) {
    InitWindowResources();
    QSvgRenderer renderer(QStringLiteral(":/quelvan/link_port_circuits.svg"));
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return QPixmap::fromImage(image);
}

QString TemperatureText(int tenths) {
    return QString::fromStdString(FormatTenths(tenths, QLocale().decimalPoint().toStdString()));
}

}  // namespace

JmpPage::JmpPage(BoardProtocol& board, QWidget* page, QObject* parent) : QObject(parent), board_(board), page_(page) {
    group_ = new QButtonGroup(this);
    modes_[0] = CreateMode("rbtJMPIRLearn", QStringLiteral("Fernbedienungslernmodus (default)"), false);
    lblJMPWarning1_ = new QLabel(QStringLiteral("ACHTUNG:"), page);
    lblJMPWarning1_->setObjectName(QStringLiteral("lblJMPWarning1"));
    lblJMPWarning2_ = new QLabel(
        QStringLiteral("In den folgenden Modi wird Pin 5 des Link-Ports als Ausgang (active low) geschaltet, also bei "
                       "verschiedenen Ereignissen auf Masse gelegt. Zwei Beispielschaltungen sind rechts abgebildet."),
        page);
    lblJMPWarning2_->setObjectName(QStringLiteral("lblJMPWarning2"));
    lblJMPWarning2_->setWordWrap(true);
    lblJMPWarning2_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    MakeRed(lblJMPWarning1_);
    MakeRed(lblJMPWarning2_);
    modes_[1] = CreateMode("rbtJMPStorm", QStringLiteral("Bei Gewitter Pin auf Masse ziehen"), true);
    modes_[2] =
        CreateMode("rbtJMPCooler", QStringLiteral("Bei Temperaturüberschreitung Pin auf Masse ziehen (Kühlung)"), true);
    modes_[3] = CreateMode("rbtJMPHeater",
                           QStringLiteral("Bei Temperaturunterschreitung Pin auf Masse ziehen (Heizung)"), true);

    edtTempJMPLow_ = new LabeledEdit(QStringLiteral("Untere Temperatur der Hysterese (°C)"), page);
    edtTempJMPLow_->setObjectName(QStringLiteral("edtTempJMPLow"));
    edtTempJMPHigh_ = new LabeledEdit(QStringLiteral("Obere Temperatur der Hysterese (°C)"), page);
    edtTempJMPHigh_->setObjectName(QStringLiteral("edtTempJMPHigh"));

    imgLink_ = new QLabel(page);
    imgLink_->setObjectName(QStringLiteral("imgLink"));
    imgLink_->setScaledContents(false);

    // A button that becomes checked, by the user or by the program, runs its handler once.
    void (JmpPage::*const handlers[])() = {&JmpPage::rbtJMPIRLearnClick, &JmpPage::rbtJMPStormClick,
                                           &JmpPage::rbtJMPCoolerClick, &JmpPage::rbtJMPHeaterClick};
    for (std::size_t mode = 0; mode < modes_.size(); ++mode) {
        connect(modes_[mode], &QAbstractButton::toggled, this, [this, handler = handlers[mode]](bool on) {
            if (on) (this->*handler)();
        });
    }
    connect(edtTempJMPLow_, &QLineEdit::textChanged, this, &JmpPage::edtTempJMPLowChange);
    connect(edtTempJMPHigh_, &QLineEdit::textChanged, this, &JmpPage::edtTempJMPHighChange);
    // Not refreshed by the poll: an edit the user leaves shows the board's value again.
    for (LabeledEdit* edit : {edtTempJMPLow_, edtTempJMPHigh_})
        connect(edit, &LabeledEdit::focusLeft, this, &JmpPage::ShowTemperatures);

    page->installEventFilter(this);
    Layout();
}

QRadioButton* JmpPage::CreateMode(const char* name, const QString& caption, bool warning) {
    auto* button = new WrapRadioButton(caption, page_);
    button->setObjectName(QLatin1String(name));
    if (warning) MakeRed(button);
    group_->addButton(button);
    return button;
}

bool JmpPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == page_ && event->type() == QEvent::Resize) Layout();
    return QObject::eventFilter(watched, event);
}

void JmpPage::Layout() {
    // The picture on the right half at its design size, or as large as the page's height
    // lets it be with its proportions kept (the tabs on two rows in the smallest window);
    // the choices in the column left of it.
    const int room = std::max(1, page_->height() - 2 * kTop);
    QSize picture(kPictureWidth, kPictureHeight);
    if (room < kPictureHeight) picture = QSize(std::max(1, kPictureWidth * room / kPictureHeight), room);
    if (imgLink_->size() != picture || imgLink_->pixmap().isNull()) {
        imgLink_->setFixedSize(picture);
        imgLink_->setPixmap(LinkPortPicture(picture));
    }
    const int pictureLeft = std::max(kDesignPageWidth, page_->width()) - kPictureRightMargin - picture.width();
    imgLink_->move(pictureLeft, kTop);
    const int width = pictureLeft - kColumnGap - kLeft;
    int top = kTop;
    auto place = [&](QWidget* widget, int height) {
        widget->setGeometry(kLeft, top, width, height);
        top += height + kSpacing;
    };
    place(modes_[0], modes_[0]->heightForWidth(width));
    top += kSpacing;
    place(lblJMPWarning1_, lblJMPWarning1_->sizeHint().height());
    place(lblJMPWarning2_, lblJMPWarning2_->heightForWidth(width));
    top += kSpacing;
    for (std::size_t mode = 1; mode < modes_.size(); ++mode) place(modes_[mode], modes_[mode]->heightForWidth(width));
    top += kSpacing;
    const int editLeft = kLeft + width - kTempEditWidth;
    for (LabeledEdit* edit : {edtTempJMPLow_, edtTempJMPHigh_}) {
        PlaceOnLine(edit, editLeft, kTempEditWidth, top);
        top += kLineHeight + kSpacing;
    }
}

void JmpPage::SetMode(int mode, bool temperatureEdits) {
    board_.config.JMPMode = static_cast<std::uint8_t>(mode);
    edtTempJMPLow_->setEnabled(temperatureEdits);
    edtTempJMPHigh_->setEnabled(temperatureEdits);
    board_.WriteDeviceConfig();
}

void JmpPage::rbtJMPIRLearnClick() {
    SetMode(0, false);
}

void JmpPage::rbtJMPStormClick() {
    SetMode(1, false);
}

void JmpPage::rbtJMPCoolerClick() {
    SetMode(2, true);
}

void JmpPage::rbtJMPHeaterClick() {
    SetMode(3, true);
}

void JmpPage::StoreTemperature(LabeledEdit* edit, const QString& text, std::int16_t& field) {
    if (!edit->hasFocus()) return;
    const std::optional<double> degrees = ParseDecimal(text);
    if (!degrees) return;
    field = Tenths16FromDegrees(*degrees);
    board_.WriteDeviceConfig();
}

void JmpPage::edtTempJMPLowChange(const QString& text) {
    StoreTemperature(edtTempJMPLow_, text, board_.config.TempJMPLow);
}

void JmpPage::edtTempJMPHighChange(const QString& text) {
    StoreTemperature(edtTempJMPHigh_, text, board_.config.TempJMPHigh);
}

void JmpPage::ShowJmpMode() {
    const int mode = board_.config.JMPMode;
    if (mode >= 0 && mode < static_cast<int>(modes_.size())) modes_[static_cast<std::size_t>(mode)]->setChecked(true);
}

void JmpPage::ShowTemperatures() {
    if (!edtTempJMPLow_->hasFocus()) edtTempJMPLow_->setText(TemperatureText(board_.config.TempJMPLow));
    if (!edtTempJMPHigh_->hasFocus()) edtTempJMPHigh_->setText(TemperatureText(board_.config.TempJMPHigh));
}

}  // namespace quelvan
