#pragma once
// Events that may come by the thousand (a guesser's wrong tokens) are logged as one line per
// period with their count, never one line each: the log stays readable, and no one fills the
// journal by guessing.

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "service/service_log.h"

namespace quelvan::service {

class RepeatedEventLog : public QObject {
    Q_OBJECT
public:
    // `what` names the events in the plural ("wrong web tokens refused"). The line goes to
    // `sink`, quelvand's log unless given.
    using Sink = std::function<void(LogLevel level, const std::string& line)>;
    RepeatedEventLog(LogLevel level, std::string what, int periodMs = 60'000, Sink sink = {},
                     QObject* parent = nullptr);
    // What is still counted is logged at the end.
    ~RepeatedEventLog() override;

    // One more event; `detail` (the last event's, such as its address) goes into the line.
    void Note(const std::string& detail = {});
    int Pending() const { return count_; }

private:
    void Flush();

    LogLevel level_;
    std::string what_;
    int periodMs_;
    Sink sink_;
    QTimer timer_;
    int count_ = 0;
    std::string lastDetail_;
};

}  // namespace quelvan::service
