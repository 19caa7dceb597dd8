#include "window/remembered_state.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace quelvan {

namespace {

const QString kDialogFolder = QStringLiteral("FileDialogs/Folder");
const QString kWindowGeometry = QStringLiteral("Window/Geometry");
const QString kSunPlace = QStringLiteral("Daylight/Place");

}  // namespace

RememberedState::RememberedState(const QString& file) {
    if (!file.isEmpty()) settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
}

RememberedState::~RememberedState() = default;

QString RememberedState::DefaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quelvan/quelvan.conf");
}

QString RememberedState::DialogFolder() const {
    if (settings_) {
        const QString folder = settings_->value(kDialogFolder).toString();
        // A folder removed or unplugged since is not offered again.
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    }
    return QDir::homePath();
}

void RememberedState::SetDialogFolder(const QString& folder) {
    if (!settings_) return;
    settings_->setValue(kDialogFolder, folder);
    settings_->sync();
}

QByteArray RememberedState::WindowGeometry() const {
    return settings_ ? settings_->value(kWindowGeometry).toByteArray() : QByteArray();
}

void RememberedState::SetWindowGeometry(const QByteArray& geometry) {
    if (!settings_) return;
    settings_->setValue(kWindowGeometry, geometry);
    settings_->sync();
}

QString RememberedState::SunPlace() const {
    return settings_ ? settings_->value(kSunPlace).toString() : QString();
}

void RememberedState::SetSunPlace(const QString& place) {
    if (!settings_) return;
    settings_->setValue(kSunPlace, place);
    settings_->sync();
}

}  // namespace quelvan
