// Fault injection shared by a device and the resources it made. Resources keep the
// injector alive, not the device, so a texture that outlives its device can still be
// asked to fail a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/gfx.h"

namespace gx::gfx {

// The resource kinds one call belongs to, as bits of FaultResource values.
constexpr uint32_t faultKind(FaultResource r) { return 1u << uint32_t(r); }

class FaultInjector {
public:
    void arm(FaultOp op, FaultResource resource, int nth);
    void armLostAtPresent(int nth);
    void clear();
    // Counts a call of kind op made on a resource of the given kinds; true when it must fail.
    bool hit(FaultOp op, uint32_t kinds);
    // Counts a present; true when this one loses the device.
    bool presentLosesDevice();

private:
    struct Armed {
        FaultOp op;
        FaultResource resource;
        int remaining;
    };
    std::vector<Armed> armed_;
    int presentsToLoss_ = 0;
};

struct FaultEntry {
    bool lostAtPresent = false;  // "lost:frame:N"
    FaultOp op = FaultOp::Create;
    FaultResource resource = FaultResource::Any;
    int nth = 0;
};

// Parses the comma-separated list. Good entries are kept even when another is bad;
// false names the first bad one in *error.
bool parseFaultList(const std::string& text, std::vector<FaultEntry>* out, std::string* error);

}  // namespace gx::gfx
