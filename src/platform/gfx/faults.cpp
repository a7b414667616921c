// Faults asked for from outside the program.
//
// GLIMMERAX_FAULTS holds a comma-separated list of entries OP:RESOURCE:N (no spaces
// needed; spaces around entries are ignored, names are case-blind):
//   OP        create | lock | readback | lost
//   RESOURCE  any | texture | surface | vertexbuffer (or vb) | rendertarget;
//             for lost the only resource is frame
//   N         1-based count of future calls of that kind; the Nth one fails
// What a kind covers:
//   create:texture       createTexture (any usage); create:rendertarget only textures
//                        with usage RENDERTARGET; create:surface offscreen plain
//                        surfaces; create:vertexbuffer vertex buffers
//   lock:texture         locks of a texture level (through the texture or its surface);
//                        lock:surface locks of offscreen plain surfaces;
//                        lock:vertexbuffer vertex-buffer locks
//   readback:rendertarget  getRenderTargetData; readback:surface getFrontBufferData
//                        and reads of the back buffer; readback:texture reads of a
//                        render-target texture level
//   lost:frame:N         the Nth present reports the device lost; the device then stays
//                        lost until testCooperativeLevel has reported it once and a
//                        reset succeeds
// A failed create returns kOutOfVideoMemory, a failed lock kInvalidCall, a failed
// read-back kDriverInternalError. Examples:
//   GLIMMERAX_FAULTS=lock:texture:5
//   GLIMMERAX_FAULTS=create:surface:1,readback:any:3,lost:frame:100
// A malformed entry is reported on standard error and ignored; the others still hold.

#include "platform/gfx/faults.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace gx::gfx {

void FaultInjector::arm(FaultOp op, FaultResource resource, int nth) {
    if (nth > 0) armed_.push_back({op, resource, nth});
}

void FaultInjector::armLostAtPresent(int nth) {
    if (nth > 0) presentsToLoss_ = nth;
}

void FaultInjector::clear() {
    armed_.clear();
    presentsToLoss_ = 0;
}

bool FaultInjector::hit(FaultOp op, uint32_t kinds) {
    bool fail = false;
    for (auto& a : armed_) {
        if (a.op != op) continue;
        if (a.resource != FaultResource::Any && !(kinds & faultKind(a.resource))) continue;
        if (--a.remaining == 0) fail = true;
    }
    std::erase_if(armed_, [](const Armed& a) { return a.remaining <= 0; });
    return fail;
}

bool FaultInjector::presentLosesDevice() {
    if (presentsToLoss_ <= 0) return false;
    return --presentsToLoss_ == 0;
}

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool parseEntry(const std::string& entry, FaultEntry* out) {
    std::string parts[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t colon = entry.find(':', start);
        if (i < 2 && colon == std::string::npos) return false;
        if (i == 2 && colon != std::string::npos) return false;
        parts[i] = lower(entry.substr(start, i < 2 ? colon - start : std::string::npos));
        start = colon + 1;
    }
    const std::string& n = parts[2];
    if (n.empty() || n.size() > 9 || !std::all_of(n.begin(), n.end(), ::isdigit)) return false;
    out->nth = std::atoi(n.c_str());
    if (out->nth <= 0) return false;

    if (parts[0] == "lost") {
        out->lostAtPresent = true;
        return parts[1] == "frame";
    }
    if (parts[0] == "create") out->op = FaultOp::Create;
    else if (parts[0] == "lock") out->op = FaultOp::Lock;
    else if (parts[0] == "readback") out->op = FaultOp::ReadBack;
    else return false;

    const std::string& r = parts[1];
    if (r == "any") out->resource = FaultResource::Any;
    else if (r == "texture") out->resource = FaultResource::Texture;
    else if (r == "surface") out->resource = FaultResource::Surface;
    else if (r == "vertexbuffer" || r == "vb") out->resource = FaultResource::VertexBuffer;
    else if (r == "rendertarget") out->resource = FaultResource::RenderTarget;
    else return false;
    return true;
}

}  // namespace

bool parseFaultList(const std::string& text, std::vector<FaultEntry>* out, std::string* error) {
    bool ok = true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string entry = trim(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!entry.empty()) {
            FaultEntry e;
            if (parseEntry(entry, &e)) {
                out->push_back(e);
            } else if (ok) {
                ok = false;
                if (error) *error = entry;
            }
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return ok;
}

bool armFaults(Device& device, const std::string& text, std::string* error) {
    std::vector<FaultEntry> entries;
    bool ok = parseFaultList(text, &entries, error);
    for (const auto& e : entries) {
        if (e.lostAtPresent) device.loseAtPresent(e.nth);
        else device.injectFault(e.op, e.resource, e.nth);
    }
    return ok;
}

}  // namespace gx::gfx
