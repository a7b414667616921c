#include "app/phases.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/picture_source.h"
#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "config/settings.h"
#include "core/stage_marks.h"
#include "framework/failures.h"
#include "framework/framework.h"
#include "render/collision_surfaces.h"
#include "render/frame.h"
#include "render/resources.h"
#include "ui/error_report.h"
#include "universe/colour_matching.h"
#include "universe/motion.h"
#include "universe/picture_to_particles.h"
#include "universe/trig.h"
#include "universe/world.h"

namespace gx {

WindUpState windUpState;
SimulationState simulationState;
WindDownState windDownState;

State* currentState = nullptr;
bool PauseFlag = false;
bool FirstPictureLoaded = true;

void switchState(State* next) {
    if (currentState) currentState->leave();
    currentState = next;
    // A pause left by a failed read-back belongs to the phase it happened in.
    readbackPaused = false;
    if (next) next->enter();
}

bool phaseHeld() { return phasePaused(PauseFlag); }

void stateUpdate(float dt) {
    if (currentState) currentState->update(dt);
}
void stateBeforeUpdate() {
    if (currentState) currentState->beforeUpdate();
}
bool stateOnKey(bool keyDown, uint32_t key) {
    return currentState ? currentState->onKey(keyDown, key) : false;
}
void stateDrawOverlay() {
    if (currentState) currentState->drawOverlay();
}

// ---- wind-up ----

void WindUpState::enter() {
    MinimumFrameTime = kPictureFrameTime;
    if (FirstPictureLoaded) {
        FirstPictureLoaded = false;
    } else {
        advancePicture(false);
        loadCurrentPicture();
    }
    elapsed = 0;
    StartX1 = StartY1 = StartX2 = StartY2 = 0;
    EndX1 = EndY1 = EndX2 = EndY2 = 0;
    CreationWidth = CreationHeight = 0;
    setCallbackFrameRender(drawPictureFrame);
    setFrameOverlay(stateDrawOverlay);

    float w = float(loadedPictureWidth());
    float h = float(loadedPictureHeight());
    const gfx::SurfaceDesc* bb = getD3D9BackBufferSurfaceDesc();
    float sw = float(bb->width);
    float sh = float(bb->height);
    float dispW, dispH;
    if (h < w) {
        dispW = kPictureShare * sw;
        dispH = dispW * (h / w);
    } else {
        dispH = kPictureShare * sw * kUprightShare;
        dispW = dispH * (w / h);
    }
    float x0 = 0.5f * sw - 0.5f * dispW;
    float y0 = 0.5f * sh - 0.5f * dispH;

    void* data = nullptr;
    if (!screenQuad.vertexBuffer ||
        gfx::failed(screenQuad.vertexBuffer->lock(0, ScreenQuad::kQuadBytes, &data, 0))) {
        internalError("Internal error - Failed to render2.");
        return;
    }
    const ScreenVertex* v = static_cast<const ScreenVertex*>(data);
    StartX1 = v[0].x;
    StartY1 = v[0].y;
    EndX1 = v[1].x;
    EndY1 = v[2].y;
    screenQuad.vertexBuffer->unlock();

    StartX2 = x0;
    StartY2 = y0;
    EndX2 = x0 + dispW;
    EndY2 = y0 + dispH;
    getGlobalTimer()->elapsedTime();
}

void WindUpState::update(float dt) {
    if (!screenQuad.vertexBuffer) {
        // The device was re-created: load the picture again and start over.
        FirstPictureLoaded = true;
        loadCurrentPicture();
        enter();
        if (RenderSuppressed) return;
    }
    float T = elapsed;
    float u = (T - kShrinkStart) / kShrinkSeconds;
    float s = u * u * u;
    float x1, y1, x2, y2;
    if (T < kShrinkStart) {
        x1 = StartX1;
        y1 = StartY1;
        x2 = EndX1;
        y2 = EndY1;
    } else if (T <= kShrinkEnd) {
        x1 = StartX1 + s * (StartX2 - StartX1);
        y1 = StartY1 + s * (StartY2 - StartY1);
        x2 = EndX1 + s * (EndX2 - EndX1);
        y2 = EndY1 + s * (EndY2 - EndY1);
    } else {
        x1 = StartX2;
        y1 = StartY2;
        x2 = EndX2;
        y2 = EndY2;
    }
    uint32_t colour;
    if (T < kShrinkStart) {
        float a = T <= kFadeInSeconds ? T / kFadeInSeconds : 1.0f;
        colour = (uint32_t(a * 255.0f) << 24) | 0x00FFFFFFu;
    } else {
        colour = 0xFFFFFFFFu;
    }
    float px[4] = {x1, x2, x1, x2};
    float py[4] = {y1, y2, y2, y1};
    if (T + dt <= kWindUpSeconds) {
        float r = T / kWindUpSeconds;
        float phi = T * kTwistSpeed * (r * r);
        float A = 0.0f;
        if (T > kShrinkStart && T < kShrinkEnd) {
            float b = T - kShrinkStart;
            A = b <= kWobbleRise ? b / kWobbleRise : (kShrinkSeconds - b) / kWobbleRise;
        }
        float rho = kWobbleRadius * A;
        for (int i = 0; i < 4; ++i) {
            float theta = float(i) * kQuarterTurn + phi;
            const trig::SinCos sc = trig::sinCos(theta);
            px[i] += rho * sc.sin;
            py[i] += rho * sc.cos;
        }
    }
    const int order[6] = {0, 1, 2, 0, 3, 1};
    const float us[6] = {0, 1, 0, 0, 1, 1};
    const float vs[6] = {0, 1, 1, 0, 0, 1};
    ScreenVertex verts[6];
    for (int i = 0; i < 6; ++i)
        verts[i] = ScreenVertex{px[order[i]], py[order[i]], 0.0f, 1.0f, colour, us[i], vs[i]};
    void* data = nullptr;
    if (!screenQuad.vertexBuffer ||
        gfx::failed(screenQuad.vertexBuffer->lock(0, ScreenQuad::kQuadBytes, &data, 0))) {
        internalError("Internal error - Failed to render3.");
        return;
    }
    std::memcpy(data, verts, sizeof verts);
    screenQuad.vertexBuffer->unlock();

    if (T > kWindUpSeconds) {
        switchState(&simulationState);
        if (RenderSuppressed) return;
        // The cracks are cut inside the picture as it now stands.
        sim.pictureLeft = StartX2;
        sim.pictureTop = StartY2;
        sim.pictureRight = EndX2;
        sim.pictureBottom = EndY2;
        if (gfx::succeeded(capturePicture())) {
            setCallbackFrameRender(renderFrame);
            onPopulationCreated();
            return;
        }
        internalError("Internal error - Failed to render4.");
    }
    elapsed += dt;
}

void WindUpState::leave() {
    CreationWidth = sim.worldWidth;
    CreationHeight = sim.wrapHeight;
    MinimumFrameTime = kSimulationFrameTime;
}

// ---- simulation ----

void SimulationState::enter() {
    frames = -1;
    elapsed = 0;
    releaseParticles();
    // The universe starts empty: no read-back, no bodies, no sprites.
    sim.collisionView.bits = nullptr;
    sim.processedCount = int32_t(sim.particleCount);
    resetBodies();
    resetSprites();
    sim.bodyLimit = 1;
    sim.bodySnapshot = nullptr;
    setGravityForPopulation();
    PauseFlag = false;
    sim.sparseFlag = 0;
}

void SimulationState::update(float dt) {
    if (float(settings.Duration) < elapsed) {
        switchState(&windDownState);
        return;
    }
    frames += 1;
    elapsed += sim.speedFactor * dt;
    if (sim.particles) {
        simulateFrame();
        if (RenderSuppressed) return;
        markStage("sprites");
        updateAllSprites();
        markStage("observers");
        onSimulationFrameDone(frames);
    }
}

void SimulationState::leave() { PauseFlag = false; }

// ---- wind-down ----

void WindDownState::enter() {
    elapsed = 0;
    MinimumFrameTime = kPictureFrameTime;
    for (BodyNode* node = bodyList(); node;) {
        BodyNode* next = node->next;
        dissolveBody(node, 0);
        node = next;
    }
    matchColours();
    getGlobalTimer()->elapsedTime();
}

void WindDownState::update(float dt) {
    const float T = elapsed;
    const int32_t W = sim.worldWidth;
    const int32_t Hb = sim.wrapHeight;
    const int32_t offX = (W - windUpState.CreationWidth) / 2;
    const int32_t offY = (Hb - windUpState.CreationHeight) / 2;
    if (sim.particles) {
        float a = 1.0f;
        if (T - kGlideSeconds >= kFadeOutDelay)
            a = 1.0f - ((T - kGlideSeconds) - kFadeOutDelay) / kFadeOutSeconds;
        if (a < 0.0f) a = 0.0f;
        for (uint32_t i = sim.particleCount; i-- > 0;) {
            Particle* p = &sim.particles[i];
            const ParticleLinks& l = p->links();
            int32_t hx = l.homeX + offX;
            int32_t hy = l.homeY + offY;
            if (T <= kGlideSeconds) {
                float g = T / kGlideSeconds;
                float nx = g * (float(hx) - p->x) + p->x;
                float ny = g * (float(hy) - p->y) + p->y;
                p->cell = (nx >= 0.0f && nx < float(W) && ny >= 0.0f && ny < float(Hb))
                              ? int32_t(ny) * W + int32_t(nx)
                              : -1;
            } else {
                p->cell = (hx >= 0 && hx < W && hy >= 0 && hy < Hb) ? hy * W + hx : -1;
                uint32_t pc = l.pictureColour;
                uint32_t r = uint32_t(a * float((pc >> 16) & 0xFF));
                uint32_t g = uint32_t(a * float((pc >> 8) & 0xFF));
                uint32_t b = uint32_t(a * float(pc & 0xFF));
                p->colour = (p->colour & 0xFF000000u) | (r << 16) | (g << 8) | b;
            }
        }
    }
    if (T > kWindDownSeconds) switchState(&windUpState);
    elapsed += dt;
}

void WindDownState::leave() { MinimumFrameTime = kSimulationFrameTime; }

void connectPhases() {
    renderHooks().moveWindUpRect = [](int dx, int dy) {
        windUpState.StartX2 += float(dx);
        windUpState.EndX2 += float(dx);
        windUpState.StartY2 += float(dy);
        windUpState.EndY2 += float(dy);
    };
    errorReportSources().phaseState = [] {
        PhaseStateReport r;
        if (currentState == &simulationState) {
            r.kind = PhaseStateReport::Kind::Simulation;
            r.elapsedTime = simulationState.elapsed;
            r.frameCounter = simulationState.frames;
        } else if (currentState == &windUpState) {
            const WindUpState& w = windUpState;
            r.kind = PhaseStateReport::Kind::WindUp;
            r.elapsedTime = w.elapsed;
            r.startX1 = w.StartX1;
            r.startY1 = w.StartY1;
            r.startX2 = w.StartX2;
            r.startY2 = w.StartY2;
            r.endX1 = w.EndX1;
            r.endY1 = w.EndY1;
            r.endX2 = w.EndX2;
            r.endY2 = w.EndY2;
            r.creationWidth = w.CreationWidth;
            r.creationHeight = w.CreationHeight;
        } else if (currentState == &windDownState) {
            r.kind = PhaseStateReport::Kind::WindDown;
            r.elapsedTime = windDownState.elapsed;
        }
        return r;
    };
}

void releasePhases() { releaseColourBuckets(); }

void resetPhasesForTests() {
    releasePhases();
    currentState = nullptr;
    PauseFlag = false;
    FirstPictureLoaded = true;
    windUpState = WindUpState{};
    simulationState = SimulationState{};
    windDownState = WindDownState{};
}

}  // namespace gx
