#pragma once
// One line per feature-report transfer attempt, for --trace:
//   get|set <report-id> <length> ok|fail <bytes as two-digit lower-case hex>

#include <cstdio>
#include <string>

#include "device/hid_device_controller.h"

namespace quelvan {

std::string FormatTransfer(const TransferRecord& record);

// Appends formatted lines to a file; flushes each line so a crash loses nothing. A trace
// that cannot be written is an error the owner reports (Error()), not a silent gap.
class TransferTraceFile {
public:
    explicit TransferTraceFile(const std::string& path);
    ~TransferTraceFile();
    TransferTraceFile(const TransferTraceFile&) = delete;
    TransferTraceFile& operator=(const TransferTraceFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    void Write(const TransferRecord& record);
    // Why the file could not be opened or written ("No space left on device"); empty while
    // everything was written.
    const std::string& Error() const { return error_; }

private:
    std::FILE* file_ = nullptr;
    std::string error_;
};

}  // namespace quelvan
