#pragma once
// Whether `quelvanctl service forget SERIAL` may empty a board's retained topics, judged on
// what the broker holds for the board (each of its retained topics with a payload): nothing
// held is a mistyped serial number; a board announced online, or one whose state (or
// configs) name another service, still belongs to someone. `force` overrides the last two
// for a board whose service is gone for good, never the first.

#include <map>
#include <string>
#include <vector>

#include "mqtt/mqtt_topics.h"

namespace quelvan::service::mqtt {

struct ForgetVerdict {
    bool ok = false;
    std::string refusal;              // why not, when not ok
    std::vector<std::string> topics;  // what to empty, when ok: the ones that hold something
};

// `held`: the board's retained topics as the broker sent them, topic -> payload (non-empty).
ForgetVerdict JudgeForget(const Topics& topics, const std::string& serial,
                          const std::map<std::string, std::string>& held, bool force);

}  // namespace quelvan::service::mqtt
