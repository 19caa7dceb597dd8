#pragma once
// File dialogs and the one message box, behind a seam: the window asks this service, the
// program passes the real Qt dialogs, tests pass a scripted service whose next answer they set.

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace quelvan {

// What a file dialog is set up with. The window keeps one for opening (`od`) and one for
// saving (`sd`); the default suffix is written with its dot (".vbf").
struct FileDialogSettings {
    QString title;
    QString filter;  // Qt form: "Description (*.ext)"
    QString defaultSuffix;
    QString directory;
};

// Shows how far a long operation has come while it blocks the window.
class ProgressReporter {
public:
    virtual ~ProgressReporter() = default;
    virtual void SetProgress(int done, int total) = 0;
};

class DialogService {
public:
    virtual ~DialogService() = default;

    // A modal progress display that stays until the returned object is destroyed: the
    // window takes no input meanwhile.
    virtual std::unique_ptr<ProgressReporter> StartProgress(QWidget* parent, const QString& title,
                                                            const QString& label) = 0;

    // The chosen file's full path, or nullopt when the user cancels. Only existing files
    // in existing folders can be chosen.
    virtual std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                                   const QString& defaultSuffix, const QString& directory) = 0;
    // The same for saving; the user confirms before an existing file is overwritten.
    virtual std::optional<QString> GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                                   const QString& defaultSuffix, const QString& directory) = 0;
    // A warning with the buttons Yes and No, No being the default. True for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;

    std::optional<QString> GetOpenFileName(QWidget* parent, const FileDialogSettings& s) {
        return GetOpenFileName(parent, s.title, s.filter, s.defaultSuffix, s.directory);
    }
    std::optional<QString> GetSaveFileName(QWidget* parent, const FileDialogSettings& s) {
        return GetSaveFileName(parent, s.title, s.filter, s.defaultSuffix, s.directory);
    }
};

// The real dialogs.
class QtDialogService final : public DialogService {
public:
    using DialogService::GetOpenFileName;
    using DialogService::GetSaveFileName;
    std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    std::optional<QString> GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    std::unique_ptr<ProgressReporter> StartProgress(QWidget* parent, const QString& title,
                                                    const QString& label) override;
};

// Another service's dialogs, telling `chosen` about every file the user picks: the window
// starts its next dialog in that file's folder.
class FileChoiceWatcher final : public DialogService {
public:
    explicit FileChoiceWatcher(DialogService& dialogs) : dialogs_(dialogs) {}

    std::function<void(const QString& file)> chosen;

    using DialogService::GetOpenFileName;
    using DialogService::GetSaveFileName;
    std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    std::optional<QString> GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override {
        return dialogs_.AskYesNo(parent, caption, text);
    }
    std::unique_ptr<ProgressReporter> StartProgress(QWidget* parent, const QString& title,
                                                    const QString& label) override {
        return dialogs_.StartProgress(parent, title, label);
    }

private:
    std::optional<QString> Watch(std::optional<QString> file);

    DialogService& dialogs_;
};

// Answers from a script instead of the user, and remembers every question. Without a
// scripted answer a file dialog is cancelled and a question answered No, the safe choices.
class ScriptedDialogService final : public DialogService {
public:
    enum class Kind { Open, Save, YesNo, Progress };
    struct Call {
        Kind kind = Kind::Open;
        QString title;  // the caption for a question
        QString filter;
        QString defaultSuffix;
        QString directory;
        QString text;  // the question's text
    };

    // nullopt: the user cancels.
    void SetNextFileName(const std::optional<QString>& fileName) {
        fileNames_.push_back({fileName.has_value(), fileName.value_or(QString())});
    }
    void SetNextAnswer(bool yes) { answers_.push_back(yes); }

    const std::vector<Call>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    // Every (done, total) a progress display was given, in order.
    const std::vector<std::pair<int, int>>& ProgressSteps() const { return progress_; }
    // Whether a progress display is showing now.
    bool ProgressShown() const { return progressOpen_ > 0; }

    using DialogService::GetOpenFileName;
    using DialogService::GetSaveFileName;
    std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    std::optional<QString> GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, const QString& directory) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    std::unique_ptr<ProgressReporter> StartProgress(QWidget* parent, const QString& title,
                                                    const QString& label) override;

private:
    std::optional<QString> NextFileName();

    struct ScriptedFile {
        bool chosen = false;
        QString name;
    };
    std::deque<ScriptedFile> fileNames_;
    std::deque<bool> answers_;
    std::vector<Call> calls_;
    std::vector<std::pair<int, int>> progress_;
    int progressOpen_ = 0;
};

}  // namespace quelvan
