#include "window/daylight_dialog.h"

#include <QComboBox>
#include <QCompleter>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QVBoxLayout>

#include "schedule/graph_geometry.h"
#include "schedule/render/graph_picture.h"
#include "sun/board_program.h"
#include "sun/daylight.h"
#include "window/graph_image.h"

namespace quelvan {

namespace {

constexpr int kPreviewWidth = 560;
constexpr int kPreviewHeight = 240;

QString Minutes(double minutes) {
    return QString::fromStdString(sun::MinuteText(minutes));
}

}  // namespace

DaylightDialog::DaylightDialog(const std::vector<ScheduleEntry>& current,
                               const std::array<std::uint8_t, kChannelCount>& colorNames, const Clock& clock,
                               const QString& lastPlace, QWidget* parent)
    : QDialog(parent),
      places_(sun::LoadPlaces()),
      rowCount_(static_cast<int>(current.size())),
      colorNames_(colorNames) {
    setObjectName("dlgDaylight");
    setWindowTitle(QStringLiteral("Tageslicht nach Ort"));

    edtPlace_ = new QLineEdit(this);
    edtPlace_->setObjectName("edtPlace");
    edtPlace_->setPlaceholderText(QStringLiteral("z. B. Manaus oder Europe/Berlin"));
    QStringList zones;
    for (const sun::Place& p : places_) zones << QString::fromStdString(p.zone);
    auto* completer = new QCompleter(zones, edtPlace_);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    edtPlace_->setCompleter(completer);
    edtLatitude_ = new QLineEdit(this);
    edtLatitude_->setObjectName("edtLatitude");
    edtLongitude_ = new QLineEdit(this);
    edtLongitude_->setObjectName("edtLongitude");
    edtDate_ = new QDateEdit(this);
    edtDate_->setObjectName("edtDate");
    edtDate_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edtDate_->setCalendarPopup(true);
    const LocalDateTime now = clock.Now();
    edtDate_->setDate(QDate(now.year, now.month, now.day));
    cmbTwilight_ = new QComboBox(this);
    cmbTwilight_->setObjectName("cmbTwilight");
    cmbTwilight_->addItems(
        {QStringLiteral("Von Sonnenaufgang bis Sonnenuntergang"), QStringLiteral("Mit bürgerlicher Dämmerung")});
    edtNoon_ = new QLineEdit(this);
    edtNoon_->setObjectName("edtNoon");
    edtNoon_->setPlaceholderText(QStringLiteral("wie am Ort"));
    edtNoon_->setMaxLength(5);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Ort:"), edtPlace_);
    auto* coordinates = new QHBoxLayout;
    auto* lblLat = new QLabel(QStringLiteral("&Breite (°N):"), this);
    lblLat->setBuddy(edtLatitude_);
    auto* lblLon = new QLabel(QStringLiteral("&Länge (°O):"), this);
    lblLon->setBuddy(edtLongitude_);
    coordinates->addWidget(lblLat);
    coordinates->addWidget(edtLatitude_);
    coordinates->addWidget(lblLon);
    coordinates->addWidget(edtLongitude_);
    form->addRow(QStringLiteral("oder Koordinaten:"), coordinates);
    form->addRow(QStringLiteral("&Datum:"), edtDate_);
    form->addRow(QStringLiteral("Dä&mmerung:"), cmbTwilight_);
    form->addRow(QStringLiteral("&Mittag um (HH:MM):"), edtNoon_);

    // The channels' maxima, in percent, from the highest value of each in the current program.
    auto* maxima = new QGridLayout;
    const std::array<double, kChannelCount> highest = sun::ProgramMaxima(current);
    for (int c = 0; c < kChannelCount; ++c) {
        auto* spin = new QSpinBox(this);
        spin->setObjectName(QStringLiteral("edtMax%1").arg(c));
        spin->setRange(0, 100);
        spin->setSuffix(QStringLiteral(" %"));
        spin->setValue(current.empty() ? 100 : std::min(static_cast<int>(highest[static_cast<std::size_t>(c)]), 100));
        auto* label = new QLabel(QString(QChar('A' + c)), this);
        label->setBuddy(spin);
        maxima->addWidget(label, c / 6, (c % 6) * 2);
        maxima->addWidget(spin, c / 6, (c % 6) * 2 + 1);
        edtMax_[static_cast<std::size_t>(c)] = spin;
        connect(spin, &QSpinBox::valueChanged, this, &DaylightDialog::Recompute);
    }
    form->addRow(QStringLiteral("Höchstwerte:"), maxima);

    imgPreview_ = new GraphImage(this);
    imgPreview_->setObjectName("imgDaylightPreview");
    imgPreview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    lblResult_ = new QLabel(this);
    lblResult_->setObjectName("lblDaylightResult");
    lblResult_->setWordWrap(true);
    // Room for the two lines it may take, whatever the dialog's height.
    lblResult_->setMinimumHeight(2 * lblResult_->fontMetrics().lineSpacing() + 4);

    auto* buttons = new QDialogButtonBox(this);
    btnApply_ = buttons->addButton(QStringLiteral("Ü&bernehmen"), QDialogButtonBox::AcceptRole);
    btnApply_->setObjectName("btnDaylightApply");
    auto* cancel = buttons->addButton(QStringLiteral("Abbre&chen"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("btnDaylightCancel");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(btnApply_, &QPushButton::clicked, this, [this] {
        if (rows_.empty()) return;
        if (apply) apply(rows_, PlaceText());
        accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lblResult_);
    layout->addWidget(imgPreview_);
    layout->addWidget(buttons);

    connect(edtPlace_, &QLineEdit::textChanged, this, &DaylightDialog::PlaceEdited);
    connect(completer, qOverload<const QString&>(&QCompleter::activated), this, &DaylightDialog::PlaceEdited);
    for (QLineEdit* edit : {edtLatitude_, edtLongitude_})
        connect(edit, &QLineEdit::textEdited, this, [this] {
            // Typed coordinates replace the place's name.
            const QSignalBlocker block(edtPlace_);
            edtPlace_->clear();
            Recompute();
        });
    connect(edtNoon_, &QLineEdit::textChanged, this, &DaylightDialog::Recompute);
    connect(edtDate_, &QDateEdit::dateChanged, this, &DaylightDialog::Recompute);
    connect(cmbTwilight_, &QComboBox::currentIndexChanged, this, &DaylightDialog::Recompute);

    edtPlace_->setText(lastPlace);
    Recompute();
}

QString DaylightDialog::PlaceText() const {
    if (!edtPlace_->text().trimmed().isEmpty()) return edtPlace_->text().trimmed();
    return edtLatitude_->text().trimmed() + "," + edtLongitude_->text().trimmed();
}

void DaylightDialog::PlaceEdited() {
    const sun::PlaceLookup found = sun::FindPlace(places_, edtPlace_->text().trimmed().toStdString());
    if (found.place && !found.place->zone.empty()) {
        edtLatitude_->setText(QString::number(found.place->latitude, 'f', 4));
        edtLongitude_->setText(QString::number(found.place->longitude, 'f', 4));
    }
    Recompute();
}

void DaylightDialog::Recompute() {
    rows_.clear();
    maxError_.reset();
    const sun::PlaceLookup found = sun::FindPlace(places_, PlaceText().toStdString());
    std::optional<int> noon;
    const QString noonText = edtNoon_->text().trimmed();
    if (!noonText.isEmpty()) noon = sun::ParseMinuteOfDay(noonText.toStdString());
    QString problem;
    if (!found.place)
        problem = edtPlace_->text().trimmed().isEmpty() && edtLatitude_->text().isEmpty()
                      ? QStringLiteral("Bitte einen Ort eingeben.")
                      : QStringLiteral("Ort nicht eindeutig gefunden: ") + QString::fromStdString(found.error);
    else if (!noonText.isEmpty() && !noon)
        problem = QStringLiteral("Die Mittagszeit bitte als HH:MM eingeben.");
    else if (rowCount_ < 2)
        problem = QStringLiteral("Die Tabelle der Platine ist noch nicht geladen.");
    if (!problem.isEmpty()) {
        lblResult_->setText(problem);
        btnApply_->setEnabled(false);
        DrawPreview(std::nullopt, std::nullopt);
        return;
    }
    const QDate date = edtDate_->date();
    const sun::SunDay day(*found.place, found.place->zone, sun::CivilDate{date.year(), date.month(), date.day()});
    sun::DaylightOptions options;
    options.horizon = cmbTwilight_->currentIndex() == 1 ? sun::kCivilHorizon : sun::kStandardHorizon;
    options.noon = noon;
    for (int c = 0; c < kChannelCount; ++c)
        options.maxima[static_cast<std::size_t>(c)] = edtMax_[static_cast<std::size_t>(c)]->value();
    const sun::DaylightCurve curve(day, options);
    const sun::FittedProgram program = sun::FitProgram(curve, rowCount_);
    rows_ = program.rows;
    maxError_ = program.maxError;
    auto onBoard = [&](const std::optional<double>& local) -> std::optional<double> {
        if (!local) return std::nullopt;
        return std::fmod(*local - curve.Shift() + 2880.0, 1440.0);
    };
    const auto sunrise = onBoard(day.Sunrise()), sunset = onBoard(day.Sunset());
    QString text;
    if (day.PolarState() == sun::Polar::Night)
        text = QStringLiteral("Polarnacht: ein dunkler Tag.");
    else if (day.PolarState() == sun::Polar::Day)
        text = QStringLiteral("Polartag: die Sonne geht nicht unter.");
    else
        text = QStringLiteral("Sonnenaufgang %1, Sonnenuntergang %2")
                   .arg(sunrise ? Minutes(*sunrise) : QStringLiteral("–"),
                        sunset ? Minutes(*sunset) : QStringLiteral("–"));
    text += QStringLiteral(" (Uhrzeit der Platine); größte Abweichung %1 Prozentpunkte bei %2 Zeilen.")
                .arg(QLocale(QLocale::German).toString(program.maxError, 'f', 2))
                .arg(rowCount_);
    lblResult_->setText(text);
    btnApply_->setEnabled(true);
    DrawPreview(sunrise, sunset);
}

void DaylightDialog::DrawPreview(std::optional<double> sunrise, std::optional<double> sunset) {
    GraphInput input;
    input.table = rows_;
    input.colorNames = colorNames_;
    input.width = kPreviewWidth;
    input.height = kPreviewHeight;
    input.clockHour = -1;  // no board time in a preview
    input.font = DefaultGraphFont();
    std::vector<GraphPoint> points;
    QImage picture = DrawGraph(input, points);
    if (picture.isNull()) return;
    // Sunrise and sunset as dashed lines with their times.
    QPainter painter(&picture);
    painter.setPen(QPen(QColor(0xE0, 0x90, 0x00), 1, Qt::DashLine));
    for (const std::optional<double>& at : {sunrise, sunset}) {
        if (!at) continue;
        const float x = GraphX(static_cast<int>(std::lround(*at)), kPreviewWidth);
        painter.drawLine(QPointF(x, kGraphMargin), QPointF(x, kPreviewHeight - kGraphMargin - 1));
        painter.drawText(QPointF(x + 3, kGraphMargin + 12), Minutes(*at));
    }
    painter.end();
    imgPreview_->SetImage(std::move(picture));
}

}  // namespace quelvan
