#pragma once
// What the window keeps between starts: the folder its file dialogs were last used in, and
// its size and place on the screen. Kept in a small settings file of the user's (nothing
// of the board is in it: the board keeps its own settings). Without a file nothing is
// remembered, as for tests and the screenshot tool.

#include <QByteArray>
#include <QString>
#include <memory>

class QSettings;

namespace quelvan {

class RememberedState {
public:
    // `file` empty: nothing is read or written.
    explicit RememberedState(const QString& file);
    ~RememberedState();
    RememberedState(const RememberedState&) = delete;
    RememberedState& operator=(const RememberedState&) = delete;

    // The user's own file, under the desktop's configuration folder (XDG_CONFIG_HOME).
    static QString DefaultFile();

    // The folder a file was last chosen in, while it exists; otherwise the user's home.
    QString DialogFolder() const;
    void SetDialogFolder(const QString& folder);

    // As QWidget::saveGeometry gives it; empty when none was kept.
    QByteArray WindowGeometry() const;
    void SetWindowGeometry(const QByteArray& geometry);

    // The place last used for daylight from the sun (as typed); empty when none was kept.
    QString SunPlace() const;
    void SetSunPlace(const QString& place);

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace quelvan
