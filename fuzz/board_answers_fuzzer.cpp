// A board that answers every get with bytes and lengths of the fuzzer's choosing, driven
// through what the window and quelvanctl do with it: connecting (quelvanctl's session),
// poll ticks with the status shown, the day program loaded, shown, sorted, drawn and
// written back, and then, as its bootloader, the flasher's information get and blocks.
// No crash, no access outside a buffer, every loop ends, and nothing is written that was
// not read first.
//
// Input: byte 0 holds the number of poll ticks (low 3 bits) and byte 1 the graph's size;
// the rest answers the transfers in order, one control byte each:
//   get: 0xF0..0xFD fails, 0xFE the device leaves the bus (this and every later transfer
//        fail), 0 the next `length` bytes are the answer, 1..0xEF the next that many bytes
//        (at most `length`) are copied over the start of the buffer, report ID included;
//   set: 0xF0..0xFD fails, 0xFE the device leaves, anything else succeeds.
// Once the input is used up, every transfer fails.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/board_session.h"
#include "cli/status_report.h"
#include "device/bootloader_protocol.h"
#include "device/channel_names.h"
#include "device/temperature_text.h"
#include "device/weather_conversions.h"
#include "files/firmware_flasher.h"
#include "fuzz_check.h"
#include "schedule/graph_geometry.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"

namespace {

using quelvan::HidInterfaceInfo;

constexpr std::size_t kMaxInput = 4096;
constexpr std::uint8_t kFail = 0xF0;
constexpr std::uint8_t kLeave = 0xFE;

struct Transfer {
    bool bootloader = false;
    bool isSet = false;
    std::vector<std::uint8_t> bytes;  // as sent, or as answered
    bool ok = false;
};

// The bus with the one device on it, first the board, later its bootloader.
class Bus {
public:
    Bus(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool bootloader = false;
    bool present = true;
    int generation = 0;
    std::vector<Transfer> log;

    bool Transfer(bool isSet, std::uint8_t* buffer, std::size_t length) {
        CheckRequest(isSet, buffer, length);
        ::Transfer t{bootloader, isSet, std::vector<std::uint8_t>(buffer, buffer + length), false};
        t.ok = Answer(isSet, buffer, length);
        if (t.ok && !isSet) t.bytes.assign(buffer, buffer + length);
        log.push_back(std::move(t));
        return log.back().ok;
    }

private:
    // The protocol's fixed lengths, with the report ID in byte 0.
    void CheckRequest(bool isSet, const std::uint8_t* buffer, std::size_t length) const {
        const std::uint8_t id = buffer[0];
        if (bootloader) {
            FUZZ_CHECK((id == 1 && length == 7) || (isSet && id == 2 && length == 132));
            return;
        }
        static const std::map<std::uint8_t, std::size_t> kLengths = {{1, 42}, {2, 28}, {3, 16},
                                                                     {4, 17}, {5, 29}, {6, 25}};
        const auto it = kLengths.find(id);
        FUZZ_CHECK(it != kLengths.end());
        FUZZ_CHECK(length == it->second || (isSet && id == 3 && length == 28));
    }

    bool Answer(bool isSet, std::uint8_t* buffer, std::size_t length) {
        if (!present || at_ >= size_) return false;
        const std::uint8_t control = data_[at_++];
        if (control == kLeave) {
            present = false;
            return false;
        }
        if (control >= kFail) return false;
        if (isSet) return true;
        std::size_t n = control == 0 ? length : std::min<std::size_t>(control, length);
        n = std::min(n, size_ - at_);
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class Handle final : public quelvan::HidHandle {
public:
    Handle(Bus& bus, int generation) : bus_(bus), generation_(generation) {}
    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        return Current() && bus_.Transfer(false, buffer, length);
    }
    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        // Sets are copied before anything is answered: the product's buffer stays untouched.
        std::vector<std::uint8_t> copy(buffer, buffer + length);
        return Current() && bus_.Transfer(true, copy.data(), copy.size());
    }

private:
    // A handle of the board does not reach its bootloader.
    bool Current() const { return generation_ == bus_.generation; }
    Bus& bus_;
    int generation_;
};

class Backend final : public quelvan::HidBackend {
public:
    explicit Backend(Bus& bus) : bus_(bus) {}
    std::vector<HidInterfaceInfo> Enumerate() override {
        if (!bus_.present) return {};
        return {{"device-" + std::to_string(bus_.generation), "fuzz", 0x16C0, 0x05DF, 1}};
    }
    quelvan::HidOpenResult Open(const HidInterfaceInfo&) override {
        return {std::make_unique<Handle>(bus_, bus_.generation), true, 0};
    }
    std::optional<std::u16string> ReadString(const HidInterfaceInfo&, quelvan::HidString which) override {
        switch (which) {
            case quelvan::HidString::Manufacturer:
                return std::u16string(quelvan::kMakerManufacturer);
            case quelvan::HidString::Product:
                return std::u16string(bus_.bootloader ? quelvan::kBootloader2Product : quelvan::kBoardProduct);
            case quelvan::HidString::SerialNumber:
                return u"";
        }
        return std::nullopt;
    }
    int ChangeFd() const override { return -1; }
    bool TakeChange() override { return false; }

private:
    Bus& bus_;
};

std::size_t Count(const Bus& bus, std::size_t from, bool isSet) {
    return static_cast<std::size_t>(std::count_if(bus.log.begin() + static_cast<std::ptrdiff_t>(from), bus.log.end(),
                                                  [&](const Transfer& t) { return t.isSet == isSet; }));
}

// What a poll tick shows of the records: the status as quelvanctl prints it (text and JSON),
// the weather page's positions and the temperature text.
void ShowStatus(const quelvan::LiveState& live, const quelvan::DeviceConfig& config) {
    std::ostringstream text;
    quelvan::cli::PrintStatus(live, config, text);
    FUZZ_CHECK(!quelvan::StatusJson(live, config).dump().empty());
    const quelvan::WeatherView weather = quelvan::ViewWeather(config);
    FUZZ_CHECK(weather.cloudsPerDay >= quelvan::kCloudCountRange.minimum &&
               weather.cloudsPerDay <= quelvan::kCloudCountRange.maximum);
    FUZZ_CHECK(weather.stormsPerDay >= quelvan::kStormCountRange.minimum &&
               weather.stormsPerDay <= quelvan::kStormCountRange.maximum);
    FUZZ_CHECK(!quelvan::FormatTenths(live.Temperature, ",").empty());
    for (int channel = 0; channel < quelvan::kChannelCount; ++channel)
        FUZZ_CHECK(!quelvan::ChannelDisplayName(channel, config.ColorName[static_cast<std::size_t>(channel)]).empty());
}

// A load of the day program: one get per row the board announced, each row stored where
// its index says, rows past the end dropped.
void LoadAndCheck(quelvan::BoardProtocol& protocol, quelvan::ScheduleTable& table, Bus& bus) {
    const int count = protocol.live.EntryCount;
    const std::size_t first = bus.log.size();
    const quelvan::ScheduleLoadResult result = quelvan::LoadSchedule(protocol, table);
    FUZZ_CHECK(result.reads == count);
    FUZZ_CHECK(result.failedReads + result.dropped + result.stored == count);
    FUZZ_CHECK(static_cast<int>(table.Size()) == count);
    FUZZ_CHECK(bus.log.size() - first == static_cast<std::size_t>(count));
    std::map<int, quelvan::ScheduleEntry> last;
    for (std::size_t i = first; i < bus.log.size(); ++i) {
        const Transfer& t = bus.log[i];
        if (!t.ok || t.bytes[1] >= count) continue;
        last[t.bytes[1]] = quelvan::ScheduleEntry::Decode(std::span<const std::uint8_t, 14>(t.bytes.data() + 2, 14));
    }
    for (const auto& [index, entry] : last) FUZZ_CHECK(table.Entries()[static_cast<std::size_t>(index)] == entry);
    FUZZ_CHECK(result.complete == (static_cast<int>(last.size()) == count));
}

// The grid's texts read back give the same rows; the graph's geometry stays in its picture.
void ShowSortAndDraw(quelvan::ScheduleTable& table, int width, int height, const std::uint8_t* probe) {
    for (std::size_t i = 0; i < table.Size(); ++i) {
        const quelvan::EntryCells cells = quelvan::CellTexts(static_cast<int>(i), table.Entries()[i]);
        std::array<std::string, quelvan::kChannelCount> channels;
        std::copy(cells.channels.begin(), cells.channels.end(), channels.begin());
        quelvan::ScheduleEntry back;
        back.Hour = 1;
        back.Minute = 2;
        quelvan::ReadCellTexts(back, cells.time, channels);
        FUZZ_CHECK(back == table.Entries()[i]);
    }
    table.SortByTime();
    const auto& rows = table.Entries();
    for (std::size_t i = 1; i < rows.size(); ++i)
        FUZZ_CHECK(rows[i - 1].Hour < rows[i].Hour ||
                   (rows[i - 1].Hour == rows[i].Hour && rows[i - 1].Minute <= rows[i].Minute));

    std::vector<quelvan::GraphPoint> points(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        points[i].X = quelvan::GraphX(rows[i].Hour * 60 + rows[i].Minute, width);
        for (int c = 0; c < quelvan::kChannelCount; ++c)
            points[i].Y[static_cast<std::size_t>(c)] =
                quelvan::GraphY(rows[i].Color[static_cast<std::size_t>(c)], height);
    }
    const int x = probe[0] * width / 255, y = probe[1] * height / 255, channel = probe[2] % quelvan::kChannelCount;
    if (const auto hit = quelvan::HitTest(points, channel, x, y))
        FUZZ_CHECK(*hit >= 0 && *hit < static_cast<int>(points.size()));
    if (const auto target = quelvan::DragTo(x, y, width, height)) {
        const int minutes = target->hour * 60 + target->minute;
        FUZZ_CHECK(minutes >= 0 && minutes <= quelvan::kMinutesPerDay && target->minute >= 0 && target->minute < 60);
        FUZZ_CHECK(target->percent >= 0 && target->percent <= 100);
    }
}

// The settings go back exactly as they were read, the colour names limited to the twelve.
void WriteBackAndCheck(quelvan::BoardProtocol& protocol, Bus& bus) {
    const std::size_t first = bus.log.size();
    const std::vector<Transfer> read(bus.log.end() - 4, bus.log.end());
    protocol.WriteDeviceConfig();
    for (std::size_t i = first; i < bus.log.size(); ++i) {
        const Transfer& sent = bus.log[i];
        // Reports 2, 4, 5, 6 were read in this order (the board may answer with any ID byte).
        const std::size_t part = sent.bytes[0] == 2 ? 0 : static_cast<std::size_t>(sent.bytes[0] - 3);
        FUZZ_CHECK(part < read.size());
        const auto same = read.begin() + static_cast<std::ptrdiff_t>(part);
        FUZZ_CHECK(same->bytes.size() == sent.bytes.size());
        for (std::size_t b = 1; b < sent.bytes.size(); ++b) {
            const bool colorName = sent.bytes[0] == 2 && b >= 8 && b < 20;
            FUZZ_CHECK(colorName ? sent.bytes[b] == (same->bytes[b] > 11 ? 0 : same->bytes[b])
                                 : sent.bytes[b] == same->bytes[b]);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5 || size > kMaxInput) return 0;
    const int ticks = data[0] & 7;
    const int width = 41 + data[1] % 64 * 16, height = 42 + data[1] / 64 * 64;
    const std::uint8_t* probe = data + 2;
    Bus bus(data + 5, size - 5);
    Backend backend(bus);
    quelvan::ManualClock clock(quelvan::LocalDateTime{2024, 5, 17, 12, 0, 0, 0});

    // ---- the board: connect as quelvanctl does, poll, load and write back the day program ----
    {
        quelvan::cli::BoardSession session(backend, clock, nullptr);
        const std::optional<quelvan::cli::Failure> failure = session.Connect();
        quelvan::BoardProtocol& protocol = session.Protocol();
        FUZZ_CHECK(protocol.Device() != nullptr);
        FUZZ_CHECK(bus.log.size() <= 3 + 4);
        if (failure) {
            FUZZ_CHECK(failure->exitCode != 0 && failure->message.rfind("error: ", 0) == 0);
            // Nothing goes to a board whose settings were never read completely.
            if (!protocol.DeviceConfigRead()) {
                const std::size_t before = bus.log.size();
                FUZZ_CHECK(!protocol.WriteDeviceConfig().sent());
                FUZZ_CHECK(bus.log.size() == before);
            }
        }
        if (!protocol.LiveStateRead()) FUZZ_CHECK(!protocol.WriteLiveState(false, false, true).sent());

        quelvan::ScheduleTable table;
        LoadAndCheck(protocol, table, bus);
        for (int tick = 0; tick < ticks; ++tick) {
            const std::size_t before = bus.log.size();
            protocol.ReadLiveState();
            const quelvan::TransferResult config = protocol.ReadDeviceConfig();
            FUZZ_CHECK(Count(bus, before, true) == 0 && bus.log.size() - before <= 3 + 4);
            if (config.ok) {
                for (const std::uint8_t name : protocol.config.ColorName) FUZZ_CHECK(name <= 11);
                WriteBackAndCheck(protocol, bus);
            }
            ShowStatus(protocol.live, protocol.config);
        }
        // Entering "Tabelle": the program again, with the count of the last live state.
        LoadAndCheck(protocol, table, bus);
        ShowSortAndDraw(table, width, height, probe);

        const std::size_t before = bus.log.size();
        const quelvan::ScheduleWriteResult written = quelvan::WriteSchedule(protocol, table);
        FUZZ_CHECK(written.allowed == table.LoadedCompletelyFrom(protocol.DeviceGeneration()));
        FUZZ_CHECK(written.written == (written.allowed ? static_cast<int>(table.Size()) : 0));
        FUZZ_CHECK(bus.log.size() - before <= table.Size() * quelvan::BoardProtocol::kWriteAttempts);
        std::size_t row = 0;
        for (std::size_t i = before; i < bus.log.size(); ++i) {
            const Transfer& t = bus.log[i];
            FUZZ_CHECK(t.isSet && t.bytes.size() == 16 && t.bytes[0] == 3);
            // Retries repeat a row; the rows go out from 0 upward.
            FUZZ_CHECK(t.bytes[1] >= row && t.bytes[1] < table.Size());
            row = t.bytes[1];
            const auto entry = table.Entries()[row].Encode();
            FUZZ_CHECK(std::equal(entry.begin(), entry.end(), t.bytes.begin() + 2));
        }
    }

    // ---- the board restarts into its bootloader: information, blocks, restart ----
    bus.bootloader = true;
    ++bus.generation;
    quelvan::HidDeviceController controller(backend);
    controller.OnDeviceChange = [&] { controller.EnumerateDevices(); };
    controller.ProcessNotifications();
    quelvan::BootloaderProtocol loader;
    loader.SetDevice(controller.AcquireDevice(0));
    if (!loader.Device()) {
        FUZZ_CHECK(!bus.present);
        return 0;
    }

    static const std::vector<std::uint8_t> kFile = [] {
        std::vector<std::uint8_t> file(8 + 1024 + 4);
        std::uint32_t sum = 1023;  // start 0 + end 1023
        file[4] = 0xFF;
        file[5] = 0x03;
        for (std::size_t a = 0; a < 1024; ++a) sum += file[8 + a] = static_cast<std::uint8_t>(a * 7 + 3);
        for (int b = 0; b < 4; ++b)
            file[8 + 1024 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(sum >> (8 * b));
        return file;
    }();
    int waits = 0;
    quelvan::files::FlashSeams seams;
    seams.Sleep = [&](std::chrono::milliseconds time) {
        FUZZ_CHECK(time == quelvan::files::kRetryWait);
        ++waits;
    };
    seams.BootloaderPresent = [&] { return bus.present; };
    const std::size_t first = bus.log.size();
    const quelvan::files::FlashResult result = quelvan::files::FlashFirmware(
        loader,
        [&](quelvan::files::FlashImage& image, std::int32_t& start, std::int32_t& end,
            const quelvan::files::StatusSink& report) {
            return quelvan::files::ReadFirmwareData(kFile, image, start, end, report);
        },
        seams);

    FUZZ_CHECK(bus.log.size() > first && !bus.log[first].isSet);
    // The information, each block at most ten times, the restart: the loops ended.
    FUZZ_CHECK(bus.log.size() - first <= 2 + static_cast<std::size_t>(quelvan::files::kBlockAttempts) *
                                                 static_cast<std::size_t>(result.blockCount));
    const Transfer& info = bus.log[first];
    const unsigned pageSize = info.ok ? info.bytes[1] | info.bytes[2] << 8 : 0;
    const std::int64_t flashSize =
        info.ok ? static_cast<std::int64_t>(info.bytes[3] | info.bytes[4] << 8 | info.bytes[5] << 16 |
                                            static_cast<std::uint32_t>(info.bytes[6]) << 24)
                : 0;
    const std::int64_t usable = flashSize - quelvan::files::kBootloaderAreaSize;
    int blockSets = 0, failedAttempts = 0, leaves = 0;
    for (std::size_t i = first + 1; i < bus.log.size(); ++i) {
        const Transfer& t = bus.log[i];
        FUZZ_CHECK(t.isSet);
        if (t.bytes[0] == 1) {
            ++leaves;
            FUZZ_CHECK(std::equal(t.bytes.begin() + 1, t.bytes.end(), info.bytes.begin() + 1));
            continue;
        }
        FUZZ_CHECK(leaves == 0);
        ++blockSets;
        if (!t.ok) ++failedAttempts;
        const std::int64_t address = t.bytes[1] | t.bytes[2] << 8 | t.bytes[3] << 16;
        FUZZ_CHECK(address % 128 == 0 && address + 128 <= usable);
        for (std::size_t b = 0; b < 128; ++b) {
            const std::int64_t a = address + static_cast<std::int64_t>(b);
            FUZZ_CHECK(t.bytes[4 + b] == (a <= 1023 ? kFile[8 + static_cast<std::size_t>(a)] : 0xFF));
        }
    }
    using quelvan::files::FlashOutcome;
    switch (result.outcome) {
        case FlashOutcome::BootloaderSilent:
            FUZZ_CHECK(!info.ok);
            [[fallthrough]];
        case FlashOutcome::BootloaderNonsense:
        case FlashOutcome::FileTooLarge:
            FUZZ_CHECK(blockSets == 0 && leaves == 0);
            break;
        case FlashOutcome::BootloaderGone:
            FUZZ_CHECK(!bus.present && leaves == 0);
            break;
        case FlashOutcome::Done:
        case FlashOutcome::BlocksFailed:
            FUZZ_CHECK(info.ok && leaves == 1);
            FUZZ_CHECK(pageSize < 128 || (pageSize & (pageSize - 1)) == 0);
            FUZZ_CHECK(usable > 0 && usable % 128 == 0 && usable >= 1023);
            FUZZ_CHECK(blockSets <= quelvan::files::kBlockAttempts * result.blockCount);
            FUZZ_CHECK((result.failedBlocks == 0) == (result.outcome == FlashOutcome::Done));
            break;
        default:
            FUZZ_CHECK(false);
    }
    // A wait follows each failed block attempt, except once the bootloader has gone.
    FUZZ_CHECK(waits == failedAttempts - (result.outcome == FlashOutcome::BootloaderGone ? 1 : 0));
    return 0;
}
