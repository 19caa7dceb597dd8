#pragma once
// Only one window program runs at a time: an exclusive lock on a file named "Quelvan2" in
// the user's private runtime folder. The kernel drops the lock when the process ends, so
// a crash leaves nothing stale behind.
//
// A later start does not just end: it asks the running one, through a local socket beside
// the lock, to bring its window to the front.

#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>

class QObject;
class QSocketNotifier;

namespace quelvan {

class SingleInstanceLock {
public:
    enum class State {
        Acquired,       // this process is the one instance
        HeldElsewhere,  // another instance runs: end at once
        Unavailable,    // no runtime folder or no lock file: run without the guard
    };

    // `folder`: where the lock lives; the user's runtime folder when empty.
    explicit SingleInstanceLock(const QString& folder = {});
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    State state() const { return state_; }
    const QString& path() const { return path_; }
    // The socket that carries a later start's request.
    QString channelPath() const;

    // The one instance (Acquired): from now on each request of a later start calls `raise`
    // and is answered. Runs in the Qt event loop; the listener is a child of `owner`. False
    // when the socket cannot be set up (later starts then just end).
    bool ListenForRaise(QObject* owner, std::function<void()> raise);
    // A later start (HeldElsewhere): asks the running instance to bring its window to the
    // front and waits up to `timeout` for its answer. True when it answered.
    bool RequestRaise(std::chrono::milliseconds timeout) const;

    static constexpr const char* kName = "Quelvan2";

private:
    void AnswerRequests();

    int fd_ = -1;
    State state_ = State::Unavailable;
    QString path_;
    int listenFd_ = -1;
    QPointer<QSocketNotifier> listener_;
    std::function<void()> raise_;
};

}  // namespace quelvan
