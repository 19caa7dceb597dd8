#pragma once
// quelvanctl service status: whether a service answers, and what it holds.

#include <ostream>

#include "cli/command_line.h"
#include "device/hid_backend.h"

namespace quelvan::cli {

// On the service's client backend; any other backend means that no service is in use.
int RunServiceStatus(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err);

}  // namespace quelvan::cli
