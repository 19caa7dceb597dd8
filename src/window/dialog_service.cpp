#include "window/dialog_service.h"

#include <QFileDialog>
#include <QMessageBox>

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

}  // namespace

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
