#include "ui/error_report.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/failures.h"
#include "framework/framework.h"
#include "platform/os/message_box.h"
#include "platform/os/paths.h"
#include "ui/config_dialog_model.h"
#include "ui/contact.h"

namespace gx {

const char* const kReportContact = kIssueTracker;

namespace {

ErrorReportSources sources;
bool reportMade = false;
int reportError = 0;  // why the last report could not be written

std::string format(const char* fmt, auto... args) {
    char buf[256];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n < 0) return {};
    if (size_t(n) < sizeof buf) return std::string(buf, size_t(n));
    std::string s(size_t(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), fmt, args...);
    s.resize(size_t(n));
    return s;
}

int trunc(float v) {
    // NaN and out-of-range values would be undefined as an int conversion.
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
    return int(v);
}

std::string capsLines(const gfx::Caps& c) {
    std::string s;
    auto i = [&s](const char* name, uint32_t v) { s += format("\n%s: %i", name, int(v)); };
    auto si = [&s](const char* name, int32_t v) { s += format("\n%s: %i", name, v); };
    auto f = [&s](const char* name, float v) { s += format("\n%s: %f", name, double(v)); };
#define GX_I(field) i(#field, c.field)
#define GX_F(field) f(#field, c.field)
    GX_I(DeviceType);
    GX_I(AdapterOrdinal);
    GX_I(Caps);
    GX_I(Caps2);
    GX_I(Caps3);
    GX_I(PresentationIntervals);
    GX_I(CursorCaps);
    GX_I(DevCaps);
    GX_I(PrimitiveMiscCaps);
    GX_I(RasterCaps);
    GX_I(ZCmpCaps);
    GX_I(SrcBlendCaps);
    GX_I(DestBlendCaps);
    GX_I(AlphaCmpCaps);
    GX_I(ShadeCaps);
    GX_I(TextureCaps);
    GX_I(TextureFilterCaps);
    GX_I(CubeTextureFilterCaps);
    GX_I(VolumeTextureFilterCaps);
    GX_I(TextureAddressCaps);
    GX_I(VolumeTextureAddressCaps);
    GX_I(LineCaps);
    GX_I(MaxTextureWidth);
    GX_I(MaxTextureHeight);
    GX_I(MaxVolumeExtent);
    GX_I(MaxTextureRepeat);
    GX_I(MaxTextureAspectRatio);
    GX_I(MaxAnisotropy);
    GX_F(MaxVertexW);
    GX_F(GuardBandLeft);
    GX_F(GuardBandTop);
    GX_F(GuardBandRight);
    GX_F(GuardBandBottom);
    GX_F(ExtentsAdjust);
    GX_I(StencilCaps);
    GX_I(FVFCaps);
    GX_I(TextureOpCaps);
    GX_I(MaxTextureBlendStages);
    GX_I(MaxSimultaneousTextures);
    GX_I(VertexProcessingCaps);
    GX_I(MaxActiveLights);
    GX_I(MaxUserClipPlanes);
    GX_I(MaxVertexBlendMatrices);
    GX_I(MaxVertexBlendMatrixIndex);
    GX_F(MaxPointSize);
    GX_I(MaxPrimitiveCount);
    GX_I(MaxVertexIndex);
    GX_I(MaxStreams);
    GX_I(MaxStreamStride);
    GX_I(VertexShaderVersion);
    GX_I(MaxVertexShaderConst);
    GX_I(PixelShaderVersion);
    GX_F(PixelShader1xMaxValue);
    GX_I(DevCaps2);
    si("MaxNpatchTessellationLevel", trunc(c.MaxNpatchTessellationLevel));
    GX_I(Reserved5);
    GX_I(MasterAdapterOrdinal);
    GX_I(AdapterOrdinalInGroup);
    GX_I(NumberOfAdaptersInGroup);
    GX_I(DeclTypes);
    GX_I(NumSimultaneousRTs);
    GX_I(StretchRectFilterCaps);
    i("VS20Caps.Caps", c.VS20Caps.Caps);
    si("VS20Caps.DynamicFlowControlDepth", c.VS20Caps.DynamicFlowControlDepth);
    si("VS20Caps.NumTemps", c.VS20Caps.NumTemps);
    si("VS20Caps.StaticFlowControlDepth", c.VS20Caps.StaticFlowControlDepth);
    i("PS20Caps.Caps", c.PS20Caps.Caps);
    si("PS20Caps.DynamicFlowControlDepth", c.PS20Caps.DynamicFlowControlDepth);
    si("PS20Caps.NumTemps", c.PS20Caps.NumTemps);
    si("PS20Caps.StaticFlowControlDepth", c.PS20Caps.StaticFlowControlDepth);
    si("PS20Caps.NumInstructionSlots", c.PS20Caps.NumInstructionSlots);
    GX_I(VertexTextureFilterCaps);
    GX_I(MaxVShaderInstructionsExecuted);
    GX_I(MaxPShaderInstructionsExecuted);
    GX_I(MaxVertexShader30InstructionSlots);
    GX_I(MaxPixelShader30InstructionSlots);
#undef GX_I
#undef GX_F
    return s;
}

std::string currentPicturePath() {
    return sources.picturePath ? sources.picturePath() : std::string();
}

}  // namespace

ErrorReportSources& errorReportSources() { return sources; }

std::string formatStateBlock(const PhaseStateReport& st) {
    using Kind = PhaseStateReport::Kind;
    switch (st.kind) {
    case Kind::Simulation:
        return "\nSTATE1" + format("\nElapsed Time: %f", double(st.elapsedTime)) +
               format("\nElapsed Frames: %i", st.frameCounter + 1);
    case Kind::WindUp:
        return "\nSTATE2" + format("\nElapsed Time: %f", double(st.elapsedTime)) +
               format("\nStartX1: %i", trunc(st.startX1)) +
               format("\nStartX2: %i", trunc(st.startX2)) +
               format("\nStartY1: %i", trunc(st.startY1)) +
               format("\nStartY2: %i", trunc(st.startY2)) + format("\nEndX1: %i", trunc(st.endX1)) +
               format("\nEndX2: %i", trunc(st.endX2)) + format("\nEndY1: %i", trunc(st.endY1)) +
               format("\nEndY2: %i", trunc(st.endY2)) +
               format("\nCreation Width: %i", st.creationWidth) +
               format("\nCreation Height: %i", st.creationHeight);
    case Kind::WindDown: return "\nSTATE3" + format("\nElapsed Time: %f", double(st.elapsedTime));
    case Kind::None: break;
    }
    return "\nno state";
}

std::string errorReportPath() { return joinPath(homeFolder(), "error.log"); }

bool writeErrorReport(const char* message) {
    std::string text;
    text += "\n----------------------------------------------------------";
    text += "\n----------------GLIMMERAX ERROR REPORT--------------------";
    text += "\n----------------------------------------------------------";
    text += format("\n          send this to %s", kReportContact);
    text += "\n----------------------------------------------------------\n";
    text += message ? format("\n%s\n", message) : std::string("\nunspecified error");
    std::string picture = currentPicturePath();
    text += '\n';
    text += picture.empty() ? std::string("screenshot") : picture;
    text += "\n\n\nSTATE INFO:\n";
    text += formatStateBlock(sources.phaseState ? sources.phaseState() : PhaseStateReport{});
    text += "\n\n\nDEVICE CAPABILITIES:\n";
    gfx::Caps caps{};
    if (const gfx::Caps* c = getD3D9DeviceCaps()) caps = *c;
    text += capsLines(caps);
    text += "\n\n\nDEVICE STATS:\n";
    text += '\n';
    text += getDeviceStats();
    text += '\n';
    text += getFrameStats(true);
    text += format("\nWindowed: %i", isWindowed() ? 1 : 0);

    reportError = 0;
    std::FILE* f = std::fopen(errorReportPath().c_str(), "w");
    if (!f) {
        reportError = errno ? errno : EIO;
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    if (!ok) reportError = errno ? errno : EIO;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        reportError = errno ? errno : EIO;
    }
    return ok;
}

std::string errorReportBoxText(bool reportWritten, int error, const std::string& picture) {
    const std::string path = errorReportPath();
    std::string box;
    if (reportWritten) {
        box = "INTERNAL ERROR: For a possible fix, send '" + path + "' to '" + kReportContact + "'";
    } else {
        // No file to send: say where it should have been and why it is not there.
        box = "INTERNAL ERROR: The error report could not be written to '" + path + "' (" +
              std::strerror(error ? error : EIO) + "). For a possible fix, report this to '" +
              kReportContact + "'";
    }
    if (!picture.empty()) box += "\n\nPlease attach this image (if possible)\n " + picture;
    // The paths may hold multi-byte characters.
    return cutAtCharacter(box, 511);
}

gfx::Result reportInternalError(const char* message) {
    // The first cause wins: whatever fails while the run winds down stays silent.
    if (reportMade) return shutdown(1);
    reportMade = true;
    bool written = writeErrorReport(message);
    int error = reportError;
    // Name the file only when it is there to be sent.
    struct stat st;
    if (written && ::stat(errorReportPath().c_str(), &st) != 0) {
        written = false;
        error = errno;
    }
    const std::string box = errorReportBoxText(written, error, currentPicturePath());
    showMessageBox(box, "Glimmerax");
    return shutdown(1);
}

void connectErrorReport() { setInternalErrorReporter(reportInternalError); }

void resetErrorReport() { reportMade = false; }

}  // namespace gx
