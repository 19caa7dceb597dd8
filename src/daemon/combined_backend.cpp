#include "daemon/combined_backend.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <string>

namespace quelvan::service {

namespace {

std::string Prefix(std::size_t part) {
    return std::to_string(part) + "/";
}

}  // namespace

CombinedBackend::CombinedBackend(std::vector<std::unique_ptr<HidBackend>> parts) : parts_(std::move(parts)) {
    changeFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    for (const auto& part : parts_) {
        if (part->ChangeFd() < 0 || changeFd_ < 0) continue;
        epoll_event event{};
        event.events = EPOLLIN;
        ::epoll_ctl(changeFd_, EPOLL_CTL_ADD, part->ChangeFd(), &event);
    }
}

CombinedBackend::~CombinedBackend() {
    if (changeFd_ >= 0) ::close(changeFd_);
}

std::vector<HidInterfaceInfo> CombinedBackend::Enumerate() {
    std::vector<HidInterfaceInfo> all;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        for (HidInterfaceInfo info : parts_[i]->Enumerate()) {
            info.identity = Prefix(i) + info.identity;
            info.path = Prefix(i) + info.path;
            all.push_back(std::move(info));
        }
    }
    return all;
}

HidBackend* CombinedBackend::PartOf(const HidInterfaceInfo& device, HidInterfaceInfo& inner) const {
    const std::size_t slash = device.identity.find('/');
    if (slash == std::string::npos) return nullptr;
    std::size_t part = 0;
    try {
        part = std::stoul(device.identity.substr(0, slash));
    } catch (const std::exception&) {
        return nullptr;
    }
    const std::string prefix = Prefix(part);
    if (part >= parts_.size() || device.identity.rfind(prefix, 0) != 0 || device.path.rfind(prefix, 0) != 0)
        return nullptr;
    inner = device;
    inner.identity.erase(0, prefix.size());
    inner.path.erase(0, prefix.size());
    return parts_[part].get();
}

HidOpenResult CombinedBackend::Open(const HidInterfaceInfo& device) {
    HidInterfaceInfo inner;
    HidBackend* part = PartOf(device, inner);
    return part ? part->Open(inner) : HidOpenResult{};
}

std::optional<std::u16string> CombinedBackend::ReadString(const HidInterfaceInfo& device, HidString which) {
    HidInterfaceInfo inner;
    HidBackend* part = PartOf(device, inner);
    return part ? part->ReadString(inner, which) : std::nullopt;
}

std::optional<std::u16string> CombinedBackend::ReadLanguageList(const HidInterfaceInfo& device) {
    HidInterfaceInfo inner;
    HidBackend* part = PartOf(device, inner);
    return part ? part->ReadLanguageList(inner) : std::nullopt;
}

bool CombinedBackend::TakeChange() {
    bool any = false;
    for (const auto& part : parts_) any = part->TakeChange() || any;
    return any;
}

int CombinedBackend::RescanIntervalMs() const {
    int shortest = 0;
    for (const auto& part : parts_) {
        const int ms = part->RescanIntervalMs();
        if (ms > 0 && (shortest == 0 || ms < shortest)) shortest = ms;
    }
    return shortest;
}

std::string CombinedBackend::Problem() const {
    for (const auto& part : parts_)
        if (std::string why = part->Problem(); !why.empty()) return why;
    return {};
}

}  // namespace quelvan::service
