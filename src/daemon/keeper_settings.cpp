#include "daemon/keeper_settings.h"

namespace quelvan::service {

namespace {

// A bound: empty is off.
ConfigKey Bound(const char* name, std::optional<double>& field, double minimum, double maximum) {
    std::optional<double>* target = &field;
    return {name, [=](const std::string& value, std::string& why) {
                if (value.empty()) {
                    *target = std::nullopt;
                    return true;
                }
                const std::optional<double> number = DecimalNumber(value, minimum, maximum);
                why = "empty (off) or a number " + std::to_string(static_cast<int>(minimum)) + ".." +
                      std::to_string(static_cast<int>(maximum)) + " with a decimal point";
                if (number) *target = number;
                return number.has_value();
            }};
}

ConfigKey Hysteresis(const char* name, double& field) {
    double* target = &field;
    return {name, [=](const std::string& value, std::string& why) {
                const std::optional<double> number = DecimalNumber(value, 0, 10);
                why = "a number 0..10 with a decimal point";
                if (number) *target = *number;
                return number.has_value();
            }};
}

}  // namespace

ConfigSection HistoryConfigSection(HistorySection& target) {
    HistorySection* h = &target;
    return {"history",
            {{"keep",
              [h](const std::string& v, std::string& why) {
                  const std::optional<bool> on = OnOff(v);
                  if (on) h->keep = *on;
                  why = "on or off";
                  return on.has_value();
              }},
             {"folder",
              [h](const std::string& v, std::string& why) {
                  why = "an absolute path";
                  if (!v.empty() && v.front() != '/') return false;
                  h->folder = v;
                  return true;
              }}},
            nullptr};
}

ConfigSection AlarmConfigSection(AlarmSection& target) {
    AlarmSection* a = &target;
    return {"alarm",
            {Bound("water_min", a->waterMin, -20, 80),
             Bound("water_max", a->waterMax, -20, 80),
             Bound("supply_min", a->supplyMin, 0, 60),
             Bound("supply_max", a->supplyMax, 0, 60),
             Hysteresis("hysteresis_c", a->hysteresisC),
             Hysteresis("hysteresis_v", a->hysteresisV),
             {"missing_after_s",
              [a](const std::string& v, std::string& why) {
                  const std::optional<int> seconds = WholeNumber(v, 0, 86400);
                  why = "a number of seconds 0..86400 (0: off)";
                  if (seconds) a->missingAfterS = *seconds;
                  return seconds.has_value();
              }}},
            nullptr};
}

void CheckAlarmBounds(const AlarmSection& a, std::vector<std::string>& errors) {
    if ((a.waterMin && a.waterMax && *a.waterMin >= *a.waterMax) ||
        (a.supplyMin && a.supplyMax && *a.supplyMin >= *a.supplyMax))
        errors.push_back("[alarm] a lower bound must lie below its upper bound");
}

}  // namespace quelvan::service
