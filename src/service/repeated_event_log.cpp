#include "service/repeated_event_log.h"

namespace quelvan::service {

namespace {

std::string PeriodText(int ms) {
    if (ms == 60'000) return "the last minute";
    if (ms % 1000 == 0) return "the last " + std::to_string(ms / 1000) + " s";
    return "the last " + std::to_string(ms) + " ms";
}

}  // namespace

RepeatedEventLog::RepeatedEventLog(LogLevel level, std::string what, int periodMs, Sink sink, QObject* parent)
    : QObject(parent), level_(level), what_(std::move(what)), periodMs_(periodMs), sink_(std::move(sink)) {
    if (!sink_) sink_ = [](LogLevel l, const std::string& line) { Log(l, line); };
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &RepeatedEventLog::Flush);
}

RepeatedEventLog::~RepeatedEventLog() {
    Flush();
}

void RepeatedEventLog::Note(const std::string& detail) {
    ++count_;
    lastDetail_ = detail;
    // The period starts with its first event; a quiet service keeps no timer running.
    if (!timer_.isActive()) timer_.start(periodMs_);
}

void RepeatedEventLog::Flush() {
    if (count_ == 0) return;
    std::string line = std::to_string(count_) + " " + what_ + " in " + PeriodText(periodMs_);
    if (!lastDetail_.empty()) line += " (the last " + lastDetail_ + ")";
    count_ = 0;
    lastDetail_.clear();
    timer_.stop();
    sink_(level_, line);
}

}  // namespace quelvan::service
