#include "device/transfer_trace.h"

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

TransferTraceFile::TransferTraceFile(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}

TransferTraceFile::~TransferTraceFile() {
    if (file_) std::fclose(file_);
}

void TransferTraceFile::Write(const TransferRecord& record) {
    if (!file_) return;
    const std::string line = FormatTransfer(record) + '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace quelvan
