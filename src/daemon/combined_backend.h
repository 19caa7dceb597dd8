#pragma once
// Several HID backends seen as one: quelvand --simulate=A --simulate=B holds two simulated
// boards, each in its own state file. Each part's interfaces keep their identity and path
// behind the part's number ("1/sim:board/1"); a change of any part is a change of the whole.

#include <memory>
#include <vector>

#include "device/hid_backend.h"

namespace quelvan::service {

class CombinedBackend final : public HidBackend {
public:
    explicit CombinedBackend(std::vector<std::unique_ptr<HidBackend>> parts);
    ~CombinedBackend() override;
    CombinedBackend(const CombinedBackend&) = delete;
    CombinedBackend& operator=(const CombinedBackend&) = delete;

    std::vector<HidInterfaceInfo> Enumerate() override;
    HidOpenResult Open(const HidInterfaceInfo& device) override;
    std::optional<std::u16string> ReadString(const HidInterfaceInfo& device, HidString which) override;
    std::optional<std::u16string> ReadLanguageList(const HidInterfaceInfo& device) override;
    // Readable while any part's is (an epoll set of them).
    int ChangeFd() const override { return changeFd_; }
    bool TakeChange() override;
    int RescanIntervalMs() const override;
    std::string Problem() const override;

private:
    // The part an interface belongs to, and the interface as that part knows it.
    HidBackend* PartOf(const HidInterfaceInfo& device, HidInterfaceInfo& inner) const;

    std::vector<std::unique_ptr<HidBackend>> parts_;
    int changeFd_ = -1;
};

}  // namespace quelvan::service
