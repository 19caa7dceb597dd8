#include "device/transfer_trace.h"

#include <cerrno>
#include <cstring>

namespace quelvan {

std::string FormatTransfer(const TransferRecord& record) {
    static const char kHex[] = "0123456789abcdef";
    std::string line = record.isSet ? "set " : "get ";
    line += std::to_string(record.bytes.empty() ? 0 : record.bytes[0]);
    line += ' ';
    line += std::to_string(record.bytes.size());
    line += record.ok ? " ok" : " fail";
    for (std::size_t i = 0; i < record.bytes.size(); ++i) {
        line += ' ';
        line += kHex[record.bytes[i] >> 4];
        line += kHex[record.bytes[i] & 0x0F];
    }
    return line;
}

TransferTraceFile::TransferTraceFile(const std::string& path) {
    if (path.empty()) {
        error_ = "no file name given";
        return;
    }
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) error_ = std::strerror(errno);
}

TransferTraceFile::~TransferTraceFile() {
    if (file_) std::fclose(file_);
}

void TransferTraceFile::Write(const TransferRecord& record) {
    if (!file_ || !error_.empty()) return;
    const std::string line = FormatTransfer(record) + '\n';
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0)
        error_ = errno != 0 ? std::strerror(errno) : "write error";
}

}  // namespace quelvan
