#include "service/peer_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quelvan::service {

bool PeerAllowed(const PeerIdentity& peer, const ServiceIdentity& service) {
    if (peer.uid == 0 || peer.uid == service.uid) return true;
    if (peer.gid == service.group) return true;
    return std::find(peer.groups.begin(), peer.groups.end(), service.group) != peer.groups.end();
}

std::optional<PeerIdentity> PeerOf(int socketFd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    PeerIdentity peer{credentials.uid, credentials.gid, {}, credentials.pid};
    // The groups the peer had when it connected; where the kernel cannot tell, the groups
    // its user belongs to.
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 2; ++attempt) {
        socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) == 0) {
            groups.resize(bytes / sizeof(gid_t));
            peer.groups = std::move(groups);
            return peer;
        }
        if (errno != ERANGE) break;
        groups.resize(bytes / sizeof(gid_t) + 1);  // the size the kernel asked for
    }
    groups.assign(64, 0);
    if (const passwd* user = ::getpwuid(credentials.uid)) {
        int count = static_cast<int>(groups.size());
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(user->pw_name, credentials.gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<std::size_t>(count));
            peer.groups = std::move(groups);
        }
    }
    return peer;
}

}  // namespace quelvan::service
