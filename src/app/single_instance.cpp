#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

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

// The socket's address; false when the path does not fit one.
bool SocketAddress(const QString& path, sockaddr_un& address) {
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || static_cast<std::size_t>(native.size()) >= sizeof(address.sun_path)) return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    return true;
}

constexpr char kAnswer[] = "raised\n";

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
    if (listenFd_ >= 0) {
        delete listener_.data();
        ::close(listenFd_);
        // Still ours: the lock is held until the next line.
        ::unlink(QFile::encodeName(channelPath()).constData());
    }
    // Closing drops the lock; the file itself stays for the next start to lock again.
    if (fd_ >= 0) ::close(fd_);
}

QString SingleInstanceLock::channelPath() const {
    return path_.isEmpty() ? QString() : path_ + QStringLiteral(".raise");
}

bool SingleInstanceLock::ListenForRaise(QObject* owner, std::function<void()> raise) {
    sockaddr_un address;
    if (state_ != State::Acquired || listenFd_ >= 0 || !SocketAddress(channelPath(), address)) return false;
    // Whatever lies there was left by an instance that ended without tidying up: the lock,
    // which is ours, says that no other instance listens.
    const QByteArray native = QFile::encodeName(channelPath());
    struct stat info;
    if (::lstat(native.constData(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return false;
        ::unlink(native.constData());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const mode_t previous = ::umask(0077);  // for the user alone, as the folder is
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd, 4) != 0) {
        ::close(fd);
        if (bound) ::unlink(native.constData());
        return false;
    }
    listenFd_ = fd;
    raise_ = std::move(raise);
    listener_ = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(listener_, &QSocketNotifier::activated, listener_, [this] { AnswerRequests(); });
    return true;
}

void SingleInstanceLock::AnswerRequests() {
    // Every connection is one request; it is answered once the window has come forward.
    for (;;) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR) continue;
            return;  // none waiting (EAGAIN) or a passing error: the next request comes anew
        }
        if (raise_) raise_();
        [[maybe_unused]] const ssize_t sent = ::send(client, kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
        ::close(client);
    }
}

bool SingleInstanceLock::RequestRaise(std::chrono::milliseconds timeout) const {
    sockaddr_un address;
    if (!SocketAddress(channelPath(), address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        pollfd wait{fd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&wait, 1, static_cast<int>(timeout.count()));
        } while (ready < 0 && errno == EINTR);
        char answer[sizeof(kAnswer)] = {};
        if (ready > 0) {
            const ssize_t got = ::recv(fd, answer, sizeof(answer) - 1, 0);
            answered = got == static_cast<ssize_t>(sizeof(kAnswer) - 1) && std::strcmp(answer, kAnswer) == 0;
        }
    }
    ::close(fd);
    return answered;
}

}  // namespace quelvan
