#include "simulator/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "device/identification.h"

namespace quelvan::sim {

using nlohmann::json;

namespace {

constexpr const char* kFormat = "quelvan-simulated-board/1";
constexpr long long kIntMin = std::numeric_limits<int>::min();
constexpr long long kIntMax = std::numeric_limits<int>::max();

// A problem in the document, with the key it concerns.
struct BadState : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const json& Field(const json& object, const std::string& key) {
    if (!object.is_object()) throw BadState("expected an object around \"" + key + "\"");
    auto it = object.find(key);
    if (it == object.end()) throw BadState("missing \"" + key + "\"");
    return *it;
}

std::vector<std::uint8_t> Hex(const json& value, const std::string& key, std::size_t expected) {
    if (!value.is_string()) throw BadState("\"" + key + "\" must be a hex string");
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() % 2 != 0) throw BadState("\"" + key + "\" has an odd number of hex digits");
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = HexDigit(text[2 * i]);
        const int lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) throw BadState("\"" + key + "\" is not hexadecimal");
        bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    if (expected != 0 && bytes.size() != expected)
        throw BadState("\"" + key + "\" must be " + std::to_string(expected) + " bytes");
    return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> HexArray(const json& object, const std::string& key) {
    const auto bytes = Hex(Field(object, key), key, N);
    std::array<std::uint8_t, N> out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

long long Integer(const json& object, const std::string& key, long long min, long long max) {
    const json& v = Field(object, key);
    if (!v.is_number_integer()) throw BadState("\"" + key + "\" must be an integer");
    const long long n = v.get<long long>();
    if (n < min || n > max) throw BadState("\"" + key + "\" is out of range");
    return n;
}

bool Boolean(const json& object, const std::string& key) {
    const json& v = Field(object, key);
    if (!v.is_boolean()) throw BadState("\"" + key + "\" must be true or false");
    return v.get<bool>();
}

std::string Text(const json& object, const std::string& key) {
    const json& v = Field(object, key);
    if (!v.is_string()) throw BadState("\"" + key + "\" must be a string");
    return v.get<std::string>();
}

std::optional<int> OptionalInteger(const json& object, const std::string& key) {
    if (Field(object, key).is_null()) return std::nullopt;
    return static_cast<int>(Integer(object, key, kIntMin, kIntMax));
}

const char* ModeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::Absent:
            return "Absent";
        case BoardMode::Application:
            return "Application";
        case BoardMode::Bootloader:
            return "Bootloader";
    }
    return "Absent";
}

BoardMode ModeFromName(const std::string& name, const std::string& key) {
    if (name == "Absent") return BoardMode::Absent;
    if (name == "Application") return BoardMode::Application;
    if (name == "Bootloader") return BoardMode::Bootloader;
    throw BadState("\"" + key + "\" must be Absent, Application or Bootloader");
}

json ConfigJson(const DeviceConfig& c) {
    return {{"report2", ToHex(c.EncodePart1())},
            {"report4", ToHex(c.EncodePart2())},
            {"report5", ToHex(c.EncodePart3())},
            {"report6", ToHex(c.EncodePart4())}};
}

DeviceConfig ConfigFrom(const json& object) {
    DeviceConfig c;
    c.DecodePart1(HexArray<DeviceConfig::kPart1Size>(object, "report2"));
    c.DecodePart2(HexArray<DeviceConfig::kPart2Size>(object, "report4"));
    c.DecodePart3(HexArray<DeviceConfig::kPart3Size>(object, "report5"));
    c.DecodePart4(HexArray<DeviceConfig::kPart4Size>(object, "report6"));
    return c;
}

json ScheduleJson(const std::vector<ScheduleEntry>& rows) {
    json out = json::array();
    for (const auto& row : rows) out.push_back(ToHex(row.Encode()));
    return out;
}

std::vector<ScheduleEntry> ScheduleFrom(const json& value, const std::string& key) {
    if (!value.is_array()) throw BadState("\"" + key + "\" must be a list of rows");
    std::vector<ScheduleEntry> rows;
    for (const auto& item : value) {
        const auto bytes = Hex(item, key, ScheduleEntry::kSize);
        rows.push_back(ScheduleEntry::Decode(
            std::span<const std::uint8_t, ScheduleEntry::kSize>(bytes.data(), ScheduleEntry::kSize)));
    }
    return rows;
}

json WeatherJson(const WeatherState& w) {
    return {{"cloud", w.cloud},           {"storm", w.storm},           {"lightning", w.lightning},
            {"cloudCover", w.cloudCover}, {"stormCover", w.stormCover}, {"pendingMs", w.pendingMs}};
}

WeatherState WeatherFrom(const json& o) {
    WeatherState w;
    w.cloud = Boolean(o, "cloud");
    w.storm = Boolean(o, "storm");
    w.lightning = Boolean(o, "lightning");
    w.cloudCover = static_cast<std::uint16_t>(Integer(o, "cloudCover", 0, 0xFFFF));
    w.stormCover = static_cast<std::uint16_t>(Integer(o, "stormCover", 0, 0xFFFF));
    w.pendingMs = Integer(o, "pendingMs", 0, kWeatherStepMs - 1);
    return w;
}

json ForeignJson(const ForeignSlot& slot) {
    const ForeignDevice& d = slot.device;
    return {{"identity", slot.identity},        {"present", slot.present},
            {"vendorId", d.vendorId},           {"productId", d.productId},
            {"versionNumber", d.versionNumber}, {"manufacturer", ToUtf8(d.manufacturer)},
            {"product", ToUtf8(d.product)},     {"serialNumber", ToUtf8(d.serialNumber)}};
}

ForeignSlot ForeignFrom(const json& o) {
    ForeignSlot slot;
    slot.identity = Text(o, "identity");
    slot.present = Boolean(o, "present");
    slot.device.vendorId = static_cast<std::uint16_t>(Integer(o, "vendorId", 0, 0xFFFF));
    slot.device.productId = static_cast<std::uint16_t>(Integer(o, "productId", 0, 0xFFFF));
    slot.device.versionNumber = static_cast<std::uint16_t>(Integer(o, "versionNumber", 0, 0xFFFF));
    slot.device.manufacturer = FromUtf8(Text(o, "manufacturer"));
    slot.device.product = FromUtf8(Text(o, "product"));
    slot.device.serialNumber = FromUtf8(Text(o, "serialNumber"));
    return slot;
}

json ToJson(const StateSnapshot& state) {
    const BoardData& b = state.board;
    const BoardSettings& s = b.settings;
    std::ostringstream random;
    random << b.random;
    json flash = {{"blocksWritten", b.flash.blocksWritten}, {"writtenSinceStart", b.flash.writtenSinceStart}};
    if (b.flash.blocksWritten > 0) flash["bytes"] = ToHex(b.flash.bytes);
    json foreign = json::array();
    for (const auto& slot : state.bus.foreign) foreign.push_back(ForeignJson(slot));
    auto optional = [](const std::optional<int>& v) { return v ? json(*v) : json(nullptr); };

    return {
        {"format", kFormat},
        {"savedAtUnixMs", state.savedAtUnixMs},
        {"device", ModeName(b.onBus ? b.firmware : BoardMode::Absent)},
        {"firmware", ModeName(b.firmware)},
        {"identity", b.identity},
        {"nextIdentity", b.nextIdentity},
        {"frozen", b.frozen},
        {"random", random.str()},
        {"settings",
         {{"firmwareVersion", s.firmwareVersion},
          {"bootloaderVariant", s.bootloaderVariant},
          {"pageSize", s.pageSize},
          {"flashSize", s.flashSize},
          {"temperatureSensor", s.temperatureSensor},
          {"serialNumber", ToUtf8(s.serialNumber)},
          {"randomSeed", s.randomSeed}}},
        {"ram",
         {{"live", ToHex(b.ram.live.Encode())},
          {"config", ConfigJson(b.ram.config)},
          {"schedule", ScheduleJson(b.ram.schedule)},
          {"entryCountOverride", optional(b.ram.entryCountOverride)},
          {"scheduleIndexOverride", optional(b.ram.scheduleIndexOverride)},
          {"nextScheduleIndex", b.ram.nextScheduleIndex},
          {"clockRemainderMs", b.ram.clockRemainderMs},
          {"moonRemainderMinutes", b.ram.moonRemainderMinutes},
          {"weather", WeatherJson(b.ram.weather)}}},
        {"eeprom",
         {{"config", ConfigJson(b.eeprom.config)},
          {"schedule", ScheduleJson(b.eeprom.schedule)},
          {"storeCount", b.eeprom.storeCount}}},
        {"flash", flash},
        {"bus",
         {{"openError", state.bus.openError}, {"stringsReadable", state.bus.stringsReadable}, {"foreign", foreign}}},
    };
}

json FaultsJson(const FaultPlan& plan) {
    json faults = {{"failAttempts", plan.failAttempts}};
    if (plan.unplugBeforeAttempt) faults["unplugBeforeAttempt"] = *plan.unplugBeforeAttempt;
    return faults;
}

FaultPlan FaultsFrom(const json& o) {
    FaultPlan plan;
    if (!o.is_object()) throw BadState("\"faults\" must be an object");
    if (o.contains("failAttempts")) {
        const json& list = o["failAttempts"];
        if (!list.is_array()) throw BadState("\"failAttempts\" must be a list of attempt numbers");
        for (const json& n : list) {
            if (!n.is_number_integer() || n.get<long long>() < 1)
                throw BadState("\"failAttempts\" holds attempt numbers from 1");
            plan.failAttempts.push_back(n.get<long long>());
        }
    }
    if (o.contains("unplugBeforeAttempt") && !o["unplugBeforeAttempt"].is_null())
        plan.unplugBeforeAttempt = Integer(o, "unplugBeforeAttempt", 1, std::numeric_limits<std::int64_t>::max());
    return plan;
}

StateSnapshot FromJson(const json& doc) {
    if (Text(doc, "format") != kFormat) throw BadState("unknown \"format\" (expected " + std::string(kFormat) + ")");
    StateSnapshot state;
    state.savedAtUnixMs = Integer(doc, "savedAtUnixMs", 0, std::numeric_limits<std::int64_t>::max());
    BoardData& b = state.board;
    const BoardMode device = ModeFromName(Text(doc, "device"), "device");
    b.firmware = ModeFromName(Text(doc, "firmware"), "firmware");
    if (b.firmware == BoardMode::Absent) throw BadState("\"firmware\" must be Application or Bootloader");
    if (device != BoardMode::Absent && device != b.firmware) throw BadState("\"device\" contradicts \"firmware\"");
    b.onBus = device != BoardMode::Absent;
    b.identity = Text(doc, "identity");
    b.nextIdentity =
        static_cast<std::uint64_t>(Integer(doc, "nextIdentity", 1, std::numeric_limits<std::int64_t>::max()));
    b.frozen = Boolean(doc, "frozen");
    std::istringstream random(Text(doc, "random"));
    random >> b.random;
    if (random.fail()) throw BadState("\"random\" is not a generator state");

    const json& s = Field(doc, "settings");
    // Settings and overrides are test hooks: whatever a test gave the board comes back.
    b.settings.firmwareVersion = static_cast<int>(Integer(s, "firmwareVersion", kIntMin, kIntMax));
    b.settings.bootloaderVariant = static_cast<int>(Integer(s, "bootloaderVariant", kIntMin, kIntMax));
    b.settings.pageSize = static_cast<std::uint16_t>(Integer(s, "pageSize", 0, 0xFFFF));
    b.settings.flashSize = static_cast<std::uint32_t>(Integer(s, "flashSize", 0, 0xFFFFFFFFLL));
    b.settings.temperatureSensor = Boolean(s, "temperatureSensor");
    b.settings.serialNumber = FromUtf8(Text(s, "serialNumber"));
    b.settings.randomSeed = static_cast<std::uint32_t>(Integer(s, "randomSeed", 0, 0xFFFFFFFFLL));

    const json& ram = Field(doc, "ram");
    const auto live = HexArray<LiveState::kSize>(ram, "live");
    b.ram.live = LiveState::Decode(live);
    b.ram.config = ConfigFrom(Field(ram, "config"));
    b.ram.schedule = ScheduleFrom(Field(ram, "schedule"), "schedule");
    b.ram.entryCountOverride = OptionalInteger(ram, "entryCountOverride");
    b.ram.scheduleIndexOverride = OptionalInteger(ram, "scheduleIndexOverride");
    b.ram.nextScheduleIndex = static_cast<int>(Integer(ram, "nextScheduleIndex", kIntMin, kIntMax));
    b.ram.clockRemainderMs = static_cast<int>(Integer(ram, "clockRemainderMs", 0, 39));
    const json& moon = Field(ram, "moonRemainderMinutes");
    if (!moon.is_number() || moon.get<double>() < 0.0 || moon.get<double>() >= 1.0)
        throw BadState("\"moonRemainderMinutes\" must be a number from 0 to below 1");
    b.ram.moonRemainderMinutes = moon.get<double>();
    b.ram.weather = WeatherFrom(Field(ram, "weather"));

    const json& eeprom = Field(doc, "eeprom");
    b.eeprom.config = ConfigFrom(Field(eeprom, "config"));
    b.eeprom.schedule = ScheduleFrom(Field(eeprom, "schedule"), "schedule");
    b.eeprom.storeCount = static_cast<int>(Integer(eeprom, "storeCount", 0, std::numeric_limits<int>::max()));

    const json& flash = Field(doc, "flash");
    b.flash.blocksWritten = static_cast<int>(Integer(flash, "blocksWritten", 0, std::numeric_limits<int>::max()));
    b.flash.writtenSinceStart = Boolean(flash, "writtenSinceStart");
    const std::size_t flashBytes = std::min(b.settings.flashSize, BootloaderFirmware::kMaxFlashBytes);
    if (flash.contains("bytes")) {
        if (flashBytes == 0) throw BadState("\"bytes\" given for a flash of size 0");
        b.flash.bytes = Hex(flash["bytes"], "bytes", flashBytes);
    } else {
        b.flash.bytes.assign(flashBytes, 0xFF);
    }

    const json& bus = Field(doc, "bus");
    state.bus.openError = static_cast<int>(Integer(bus, "openError", 0, 4095));
    state.bus.stringsReadable = Boolean(bus, "stringsReadable");
    const json& foreign = Field(bus, "foreign");
    if (!foreign.is_array()) throw BadState("\"foreign\" must be a list");
    for (const auto& item : foreign) state.bus.foreign.push_back(ForeignFrom(item));
    if (doc.contains("faults")) state.faults = FaultsFrom(doc["faults"]);
    return state;
}

}  // namespace

std::string WriteStateJson(const StateSnapshot& state) {
    json doc = ToJson(state);
    if (!state.faults.Empty()) doc["faults"] = FaultsJson(state.faults);
    return doc.dump(2) + "\n";
}

bool ReadStateJson(const std::string& text, StateSnapshot& state, std::string* error) {
    try {
        state = FromJson(json::parse(text));
        return true;
    } catch (const json::exception& e) {
        if (error) *error = std::string("not a valid state file: ") + e.what();
    } catch (const BadState& e) {
        if (error) *error = std::string("not a valid state file: ") + e.what();
    }
    return false;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    // A fresh, exclusive name in the same folder: nothing planted there can be followed,
    // and the rename below stays on one file system.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return fail("cannot create a temporary file beside " + path);

    // The new file keeps the old one's permissions (a new one gets the usual ones).
    struct stat old {};
    mode_t mode;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const int savedErrno = errno;
    if (::close(fd) != 0 && ok)
        ok = false;
    else
        errno = savedErrno;
    if (!ok) {
        const bool result = fail("cannot write " + path);
        ::unlink(temporary.c_str());
        return result;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const bool result = fail("cannot replace " + path);
        ::unlink(temporary.c_str());
        return result;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string* error) {
    // Without O_NONBLOCK a FIFO would wait for a writer for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = "cannot read " + path + ": " + std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        problem = path + " is a folder, not a state file";
    else if (!S_ISREG(st.st_mode))
        problem = path + " is not a regular file (a device, pipe or socket cannot hold a state file)";
    else if (st.st_size > static_cast<off_t>(kMaxStateFileBytes))
        problem = path + " is too large for a state file (" + std::to_string(st.st_size) + " bytes; at most " +
                  std::to_string(kMaxStateFileBytes) + ")";
    if (problem.empty()) {
        std::string content;
        content.reserve(static_cast<std::size_t>(st.st_size));
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                problem = "cannot read " + path + ": " + std::strerror(errno);
                break;
            }
            if (n == 0) break;
            content.append(chunk, static_cast<std::size_t>(n));
            if (content.size() > kMaxStateFileBytes) {
                problem = path + " is too large for a state file";
                break;
            }
        }
        if (problem.empty()) text = std::move(content);
    }
    ::close(fd);
    if (!problem.empty()) {
        if (error) *error = problem;
        return false;
    }
    return true;
}

std::int64_t WallClockUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace quelvan::sim
