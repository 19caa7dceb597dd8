#pragma once
// quelvand as a library call: its command line, its configuration, the backend, the owner
// and the socket, run until SIGTERM or SIGINT. main() stays a one-liner.
//
//   quelvand [--config FILE] [--simulate[=STATEFILE]] [--help] [--version]

namespace quelvan::service {

int RunService(int argc, char* argv[]);

}  // namespace quelvan::service
