#pragma once
// Who may use quelvand's socket: root, the service's own user, and members of its group
// (the group "quelvan" where it exists). The socket file's mode already keeps others out
// where the file system is asked; the peer's credentials are checked again on every
// connection, so that a socket reached some other way (a copied descriptor, a mode
// changed by hand) lets no one else in.

#include <sys/types.h>

#include <optional>
#include <vector>

namespace quelvan::service {

struct PeerIdentity {
    uid_t uid = 0;
    gid_t gid = 0;              // primary group
    std::vector<gid_t> groups;  // supplementary groups
    pid_t pid = 0;
};

struct ServiceIdentity {
    uid_t uid = 0;
    gid_t group = 0;
};

bool PeerAllowed(const PeerIdentity& peer, const ServiceIdentity& service);

// The credentials of the process at the other end of a connected Unix socket.
std::optional<PeerIdentity> PeerOf(int socketFd);

}  // namespace quelvan::service
