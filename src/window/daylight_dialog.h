#pragma once
// "Tageslicht nach Ort …": a day program from the real sun at a chosen place. The place is
// found as one types (zone names of the time-zone table) or given by latitude and longitude;
// date, twilight, the board's hour of solar noon and the channels' maxima shape the day; the
// preview draws the fitted rows as the page "Grafik" does, with sunrise and sunset marked
// and the largest difference to the sun's curve. "Übernehmen" hands the rows to the table.

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "device/clock.h"
#include "device/records.h"
#include "sun/places.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace quelvan {

class GraphImage;
class RememberedState;
class TfrmQuelvan;

class DaylightDialog : public QDialog {
    Q_OBJECT
public:
    // `current`: the table as it stands (its length is the board's row count, its highest
    // value per channel the default maximum); `lastPlace`: the place used last time.
    DaylightDialog(const std::vector<ScheduleEntry>& current, const std::array<std::uint8_t, kChannelCount>& colorNames,
                   const Clock& clock, const QString& lastPlace, QWidget* parent = nullptr);

    // The fitted rows, when the place and the fields make a day; and its largest difference.
    const std::vector<ScheduleEntry>& Rows() const { return rows_; }
    std::optional<double> MaxError() const { return maxError_; }
    QString PlaceText() const;

    // Called with the rows and the place's text when "Übernehmen" is pressed.
    std::function<void(const std::vector<ScheduleEntry>&, const QString&)> apply;

public slots:
    void Recompute();

private:
    void PlaceEdited();
    void DrawPreview(std::optional<double> sunrise, std::optional<double> sunset);

    std::vector<sun::Place> places_;
    int rowCount_;
    std::array<std::uint8_t, kChannelCount> colorNames_;
    std::vector<ScheduleEntry> rows_;
    std::optional<double> maxError_;

    QLineEdit* edtPlace_ = nullptr;
    QLineEdit* edtLatitude_ = nullptr;
    QLineEdit* edtLongitude_ = nullptr;
    QDateEdit* edtDate_ = nullptr;
    QComboBox* cmbTwilight_ = nullptr;
    QLineEdit* edtNoon_ = nullptr;
    std::array<QSpinBox*, kChannelCount> edtMax_{};
    GraphImage* imgPreview_ = nullptr;
    QLabel* lblResult_ = nullptr;
    QPushButton* btnApply_ = nullptr;
    bool filling_ = false;  // the place fills the coordinates: not a typed position
};

// "Optionen" → "Tageslicht nach Ort …": opens the dialog over the window; its rows go into
// the grid on "Tabelle" as typed edits would, and the place is remembered.
void OpenDaylightDialog(TfrmQuelvan& window, RememberedState& remembered);

}  // namespace quelvan
