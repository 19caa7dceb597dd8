#pragma once
// quelvanctl as a library: the whole tool behind two calls, so that tests can run it
// in-process against a simulated board and main() stays a one-liner.

#include <ostream>

#include "cli/command_line.h"
#include "cli/file_commands.h"
#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/transfer_trace.h"

namespace quelvan::cli {

// Parses argv, sets up the backend the options ask for (the real HID devices, or the
// simulated board with --simulate) and runs the command. Returns the exit code.
int RunQuelvanctl(int argc, const char* const argv[], const Clock& clock, std::ostream& out, std::ostream& err);

// The same on a given backend; --simulate is then accepted but the given backend is used.
int RunQuelvanctl(int argc, const char* const argv[], HidBackend& backend, const Clock& clock, std::ostream& out,
                  std::ostream& err);

// Runs one parsed request on a backend; `trace` (may be null) receives every transfer.
// `files`: the command's files as PrepareCommandFiles left them; prepared here when null.
int RunRequest(const Request& request, HidBackend& backend, const Clock& clock, std::ostream& out, std::ostream& err,
               TransferTraceFile* trace = nullptr, const CommandFiles* files = nullptr);

}  // namespace quelvan::cli
