#pragma once
// quelvanctl service status: whether a service answers, what it holds and its MQTT broker;
// quelvanctl service forget SERIAL: the service removes a board from Home Assistant. The
// service does it, not quelvanctl: it alone knows the broker and its credentials (the
// password file readable by the service's user only), and which boards it holds.
// quelvanctl service web-token: the web page's token, which the service hands to any peer
// its socket lets in (such a peer may use the boards anyway), so that the token file
// itself can stay readable by the service's user alone.
// quelvanctl service history / restore: the settings history the service keeps; the service
// reads and writes its folder, and a restore goes through its ownership of the board.

#include <ostream>

#include "cli/command_line.h"
#include "device/hid_backend.h"

namespace quelvan::cli {

// On the service's client backend; any other backend means that no service is in use.
int RunServiceStatus(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err);
int RunServiceForget(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err);
// service history [--device SERIAL], service history show ID, service restore ID [--config|--table]
int RunServiceHistory(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err);
int RunServiceWebToken(const Request& request, HidBackend& backend, std::ostream& out, std::ostream& err);

}  // namespace quelvan::cli
