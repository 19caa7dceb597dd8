// quelvand: the service that owns the boards and shares them over a local socket.

#include "daemon/service_runner.h"

int main(int argc, char* argv[]) {
    return quelvan::service::RunService(argc, argv);
}
