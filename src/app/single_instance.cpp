#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <cerrno>

namespace quelvan {

namespace {

QString RuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Without a session's runtime folder Qt would make one under /tmp; the user's own cache
    // folder is private without that detour.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!dir.isEmpty()) QDir().mkpath(dir);
    return dir;
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(const QString& folder) {
    // The folder belongs to the user alone, unlike /tmp, so no other user can take the
    // lock away or plant a file in its place.
    const QString dir = folder.isEmpty() ? RuntimeFolder() : folder;
    if (dir.isEmpty()) return;
    path_ = QDir(dir).filePath(QString::fromLatin1(kName));
    const QByteArray native = QFile::encodeName(path_);
    fd_ = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        state_ = State::Acquired;
    } else {
        state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstanceLock::~SingleInstanceLock() {
    // Closing drops the lock; the file itself stays for the next start to lock again.
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quelvan
