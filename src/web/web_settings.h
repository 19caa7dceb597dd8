#pragma once
// The [web] section of quelvand.conf: whether quelvand serves its web page and JSON API,
// on which address, and where the access token is kept. The page is off unless the file has
// a [web] section; an empty one serves it on 127.0.0.1:8468.
//
//   [web]
//   listen = 127.0.0.1    the address to listen on (ADDRESS, or ADDRESS:PORT, [IPv6]:PORT)
//   port = 8468
//   token_file =          empty: web-token in the service's state directory
//
// Whatever the address, the API answers only requests that carry the token; without a token
// the page is not served at all, so a non-loopback address is never open without one.

#include <string>

#include "service/service_config.h"

namespace quelvan::service {

struct WebSection {
    bool enabled = false;  // the file has a [web] section
    std::string listen = "127.0.0.1";
    int port = 8468;
    std::string tokenFile;  // empty: DefaultWebTokenPath()

    // Whether the port came with listen or from its own key (they must agree).
    bool portInListen = false;
    bool portGiven = false;
};

// The key readers of the section: false (and `why`, what was expected) for a value that
// cannot be used.
bool ReadWebListen(const std::string& value, WebSection& web, std::string& why);
bool ReadWebPort(const std::string& value, WebSection& web, std::string& why);
bool ReadWebTokenFile(const std::string& value, WebSection& web, std::string& why);
// The [web] section, read into `target`: the page is on once the section is there.
ConfigSection WebConfigSection(WebSection& target);
// Whether `listen` is a loopback address (127.0.0.0/8, ::1).
bool WebListensOnLoopback(const WebSection& web);

// The page's address for links to it (Home Assistant's configuration_url, quelvanctl
// service web-token): http://ADDRESS:PORT/ with a wildcard address
// (0.0.0.0, ::) replaced by this computer's name. Empty while the page is off.
std::string WebPageUrl(const WebSection& web);

// Where the token is kept unless token_file says otherwise: web-token in the state
// directory systemd gives the service ($STATE_DIRECTORY: /var/lib/quelvan for the system
// unit, $XDG_STATE_HOME/quelvan for the user unit); outside systemd /var/lib/quelvan for
// root and $XDG_STATE_HOME/quelvan (~/.local/state/quelvan) for anyone else.
std::string DefaultWebTokenPath();

}  // namespace quelvan::service
