#pragma once
// Only one window program runs at a time: an exclusive lock on a file named "Quelvan2" in
// the user's private runtime folder. The kernel drops the lock when the process ends, so
// a crash leaves nothing stale behind.

#include <QString>

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

    static constexpr const char* kName = "Quelvan2";

private:
    int fd_ = -1;
    State state_ = State::Unavailable;
    QString path_;
};

}  // namespace quelvan
