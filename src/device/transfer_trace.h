#pragma once
// One line per feature-report transfer attempt, for --trace:
//   get|set <report-id> <length> ok|fail <bytes as two-digit lower-case hex>

#include "device/hid_device_controller.h"

#include <cstdio>
#include <string>

namespace quelvan {

std::string FormatTransfer(const TransferRecord& record);

// Appends formatted lines to a file; flushes each line so a crash loses nothing.
class TransferTraceFile {
public:
    explicit TransferTraceFile(const std::string& path);
    ~TransferTraceFile();
    TransferTraceFile(const TransferTraceFile&) = delete;
    TransferTraceFile& operator=(const TransferTraceFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    void Write(const TransferRecord& record);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace quelvan
