#include "window/dialog_service.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

namespace quelvan {

namespace {

// Qt wants the default suffix without its dot.
QString SuffixWithoutDot(const QString& suffix) {
    return suffix.startsWith('.') ? suffix.mid(1) : suffix;
}

std::optional<QString> RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& title,
                                     const QString& filter, const QString& defaultSuffix, const QString& directory) {
    QFileDialog dialog(parent, title, directory, filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(SuffixWithoutDot(defaultSuffix));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.front();
}

// The dialog appears once an operation has run for half a second: a short update ends
// before a dialog would be worth drawing. From then on it shows five steps a second: every
// step shown repaints the dialog and the window behind it (a modal dialog's setValue
// processes events), which for every block of a fast link would cost as much time as the
// link itself. The steps in between are skipped; the last one is always shown.
class QtProgress final : public ProgressReporter {
public:
    QtProgress(QWidget* parent, const QString& title, const QString& label) : dialog_(label, QString(), 0, 0, parent) {
        dialog_.setWindowTitle(title);
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setCancelButton(nullptr);  // an interrupted update leaves a board that cannot start
        dialog_.setMinimumDuration(static_cast<int>(kShowAfterMs));
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        started_.start();
    }
    void SetProgress(int done, int total) override {
        if (!dialog_.isVisible()) {
            if (started_.elapsed() < kShowAfterMs) return;
        } else if (done != total && shown_.elapsed() < kRepaintIntervalMs) {
            return;
        }
        shown_.start();
        dialog_.setMaximum(total);
        if (!dialog_.isVisible()) dialog_.show();
        dialog_.setValue(done);
        dialog_.setLabelText(dialog_.labelText().section('\n', 0, 0) + '\n' +
                             QStringLiteral("%1 von %2").arg(done).arg(total));
        // Repaint only: the window's own input waits until the update has ended.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    static constexpr qint64 kShowAfterMs = 500;
    static constexpr qint64 kRepaintIntervalMs = 200;
    QProgressDialog dialog_;
    QElapsedTimer started_;
    QElapsedTimer shown_;
};

class ScriptedProgress final : public ProgressReporter {
public:
    ScriptedProgress(std::vector<std::pair<int, int>>& steps, int& open) : steps_(steps), open_(open) { ++open_; }
    ~ScriptedProgress() override { --open_; }
    void SetProgress(int done, int total) override { steps_.emplace_back(done, total); }

private:
    std::vector<std::pair<int, int>>& steps_;
    int& open_;
};

}  // namespace

std::unique_ptr<ProgressReporter> QtDialogService::StartProgress(QWidget* parent, const QString& title,
                                                                 const QString& label) {
    return std::make_unique<QtProgress>(parent, title, label);
}

std::unique_ptr<ProgressReporter> ScriptedDialogService::StartProgress(QWidget*, const QString& title,
                                                                       const QString& label) {
    calls_.push_back({Kind::Progress, title, {}, {}, {}, label});
    return std::make_unique<ScriptedProgress>(progress_, progressOpen_);
}

std::optional<QString> QtDialogService::GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                                        const QString& defaultSuffix, const QString& directory) {
    return RunFileDialog(parent, QFileDialog::AcceptOpen, title, filter, defaultSuffix, directory);
}

std::optional<QString> QtDialogService::GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                                        const QString& defaultSuffix, const QString& directory) {
    return RunFileDialog(parent, QFileDialog::AcceptSave, title, filter, defaultSuffix, directory);
}

bool QtDialogService::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> FileChoiceWatcher::Watch(std::optional<QString> file) {
    if (file && chosen) chosen(*file);
    return file;
}

std::optional<QString> FileChoiceWatcher::GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                                          const QString& defaultSuffix, const QString& directory) {
    return Watch(dialogs_.GetOpenFileName(parent, title, filter, defaultSuffix, directory));
}

std::optional<QString> FileChoiceWatcher::GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                                          const QString& defaultSuffix, const QString& directory) {
    return Watch(dialogs_.GetSaveFileName(parent, title, filter, defaultSuffix, directory));
}

std::optional<QString> ScriptedDialogService::NextFileName() {
    if (fileNames_.empty()) return std::nullopt;
    const ScriptedFile next = fileNames_.front();
    fileNames_.pop_front();
    if (!next.chosen) return std::nullopt;
    return next.name;
}

std::optional<QString> ScriptedDialogService::GetOpenFileName(QWidget*, const QString& title, const QString& filter,
                                                              const QString& defaultSuffix, const QString& directory) {
    calls_.push_back({Kind::Open, title, filter, defaultSuffix, directory, {}});
    return NextFileName();
}

std::optional<QString> ScriptedDialogService::GetSaveFileName(QWidget*, const QString& title, const QString& filter,
                                                              const QString& defaultSuffix, const QString& directory) {
    calls_.push_back({Kind::Save, title, filter, defaultSuffix, directory, {}});
    return NextFileName();
}

bool ScriptedDialogService::AskYesNo(QWidget*, const QString& caption, const QString& text) {
    calls_.push_back({Kind::YesNo, caption, {}, {}, {}, text});
    if (answers_.empty()) return false;
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

}  // namespace quelvan
