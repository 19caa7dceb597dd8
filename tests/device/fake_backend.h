#pragma once
// A scripted HID backend for the core tests: devices appear and disappear on command,
// every transfer attempt is logged with its bytes, and failures can be queued.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/hid_backend.h"

namespace quelvan::testing {

struct FakeTransfer {
    std::string identity;
    bool isSet = false;
    std::vector<std::uint8_t> bytes;
};

class FakeBackend final : public HidBackend {
public:
    struct Device {
        HidInterfaceInfo info;
        std::u16string manufacturer, product, serial;
        std::optional<std::u16string> languages;
        bool openable = true;
        bool readWrite = true;
        // Answers a get: fills buffer[1..]; byte 0 holds the report ID.
        std::function<void(std::uint8_t* buffer, std::size_t length)> answer;
    };

    std::string Add(std::u16string manufacturer, std::u16string product, std::uint16_t vid = 0x16C0,
                    std::uint16_t pid = 0x05DF) {
        Device d;
        d.info.identity = "dev" + std::to_string(++nextId_);
        d.info.path = "/dev/hidraw" + std::to_string(nextId_);
        d.info.vendorId = vid;
        d.info.productId = pid;
        d.manufacturer = std::move(manufacturer);
        d.product = std::move(product);
        devices_.push_back(std::move(d));
        return devices_.back().info.identity;
    }
    void Remove(const std::string& identity) {
        devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                      [&](const Device& d) { return d.info.identity == identity; }),
                       devices_.end());
    }
    Device& Get(const std::string& identity) {
        return *std::find_if(devices_.begin(), devices_.end(),
                             [&](const Device& d) { return d.info.identity == identity; });
    }

    // The next `count` attempts fail, whatever the report.
    void FailNext(int count) { failures_ += count; }
    // The attempt with this 0-based number (counted over all attempts) fails.
    void FailAttempt(int n) { failAt_.push_back(n); }
    // The k-th attempt from now on (0: the next one) fails.
    void FailAttemptFromNow(int k) { failAt_.push_back(attempts_ + k); }

    std::vector<FakeTransfer> log;
    int enumerations = 0;
    int opens = 0;
    int stringReads = 0;
    bool signalled = false;

    std::vector<HidInterfaceInfo> Enumerate() override {
        ++enumerations;
        std::vector<HidInterfaceInfo> out;
        for (auto& d : devices_) out.push_back(d.info);
        return out;
    }

    HidOpenResult Open(const HidInterfaceInfo& info) override;

    std::optional<std::u16string> ReadString(const HidInterfaceInfo& info, HidString which) override {
        ++stringReads;
        Device* d = Find(info.identity);
        if (!d) return std::nullopt;
        switch (which) {
            case HidString::Manufacturer:
                return d->manufacturer;
            case HidString::Product:
                return d->product;
            case HidString::SerialNumber:
                return d->serial;
        }
        return std::nullopt;
    }
    std::optional<std::u16string> ReadLanguageList(const HidInterfaceInfo& info) override {
        Device* d = Find(info.identity);
        return d ? d->languages : std::nullopt;
    }
    int ChangeFd() const override { return -1; }
    bool TakeChange() override { return std::exchange(signalled, false); }

    // Decides one attempt: logs it and returns whether it succeeds.
    bool Attempt(const std::string& identity, bool isSet, const std::uint8_t* buffer, std::size_t length) {
        const int n = attempts_++;
        log.push_back({identity, isSet, std::vector<std::uint8_t>(buffer, buffer + length)});
        if (!Find(identity)) return false;
        if (failures_ > 0) {
            --failures_;
            return false;
        }
        return std::find(failAt_.begin(), failAt_.end(), n) == failAt_.end();
    }
    Device* Find(const std::string& identity) {
        auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Device& d) { return d.info.identity == identity; });
        return it == devices_.end() ? nullptr : &*it;
    }

private:
    std::vector<Device> devices_;
    int nextId_ = 0;
    int failures_ = 0;
    int attempts_ = 0;
    std::vector<int> failAt_;
};

class FakeHandle final : public HidHandle {
public:
    FakeHandle(FakeBackend& backend, std::string identity) : backend_(backend), identity_(std::move(identity)) {}
    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        if (!backend_.Attempt(identity_, false, buffer, length)) return false;
        if (auto* d = backend_.Find(identity_); d && d->answer) d->answer(buffer, length);
        backend_.log.back().bytes.assign(buffer, buffer + length);
        return true;
    }
    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        return backend_.Attempt(identity_, true, buffer, length);
    }

private:
    FakeBackend& backend_;
    std::string identity_;
};

inline HidOpenResult FakeBackend::Open(const HidInterfaceInfo& info) {
    ++opens;
    HidOpenResult r;
    Device* d = Find(info.identity);
    if (!d || !d->openable) return r;
    r.handle = std::make_unique<FakeHandle>(*this, info.identity);
    r.readWrite = d->readWrite;
    if (!d->readWrite) r.error = 13;  // EACCES
    return r;
}

}  // namespace quelvan::testing
