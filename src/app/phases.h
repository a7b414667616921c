// The three phases of the saver's cycle (wind-up, simulation, wind-down), the machine
// that holds the current one, and the values the phases share with the rest.
#pragma once

#include <cstdint>

namespace gx {

// The cycle's times, in seconds of each phase's own elapsed time.
// Frame pacing: the picture phases at 30 frames a second, the simulation at 15.
constexpr double kPictureFrameTime = 1.0 / 30.0;
constexpr double kSimulationFrameTime = 1.0 / 15.0;
// Wind-up: the picture fades in, holds, then shrinks into its rectangle while its
// corners wobble outward and back; the corners turn faster and faster until the end.
constexpr float kFadeInSeconds = 0.75f;
constexpr float kShrinkStart = 3.0f;
constexpr float kShrinkSeconds = 3.0f;
constexpr float kShrinkEnd = 6.0f;
constexpr float kWobbleRise = 1.5f;    // the wobble grows this long, then shrinks as long
constexpr float kWobbleRadius = 7.5f;  // pixels at its largest
constexpr float kTwistSpeed = 20.0f;   // radians per second at the end of the wind-up
constexpr float kQuarterTurn = 1.5707964f;
constexpr float kWindUpSeconds = 6.5f;  // then the picture becomes particles
// Where the wind-up leaves the picture: a landscape one this share of the screen's width
// wide, an upright one that share of three quarters of the width high.
constexpr float kPictureShare = 0.2f;
constexpr float kUprightShare = 0.75f;
// Wind-down: every particle glides home, the picture stands, then fades to black.
constexpr float kGlideSeconds = 5.0f;
constexpr float kFadeOutDelay = 2.25f;  // after the glide
constexpr float kFadeOutSeconds = 0.75f;
constexpr float kWindDownSeconds = 8.0f;

class State {
public:
    virtual ~State() = default;
    virtual void enter() {}
    virtual void update(float) {}
    virtual void beforeUpdate() {}
    virtual bool onKey(bool, uint32_t) { return false; }
    virtual void drawOverlay() {}
    virtual void leave() {}
    virtual const char* name() const = 0;
};

class WindUpState : public State {
public:
    void enter() override;
    void update(float dt) override;
    void leave() override;
    const char* name() const override { return "windup"; }

    float elapsed = 0;
    float StartX1 = 0, StartY1 = 0;
    float StartX2 = 0, StartY2 = 0;
    float EndX1 = 0, EndY1 = 0;
    float EndX2 = 0, EndY2 = 0;
    int32_t CreationWidth = 0, CreationHeight = 0;
};

class SimulationState : public State {
public:
    void enter() override;
    void update(float dt) override;
    void leave() override;
    const char* name() const override { return "simulation"; }

    int32_t frames = -1;
    float elapsed = 0;
};

class WindDownState : public State {
public:
    void enter() override;
    void update(float dt) override;
    void leave() override;
    const char* name() const override { return "winddown"; }

    float elapsed = 0;
};

extern WindUpState windUpState;
extern SimulationState simulationState;
extern WindDownState windDownState;

extern State* currentState;
// The user's pause (the Pause key). A failed collision read-back pauses on its own
// flag, so that a later successful read-back never undoes the user's choice.
extern bool PauseFlag;
extern bool FirstPictureLoaded;

void switchState(State* next);
bool phaseHeld();

// Slot wrappers; harmless without a current state.
void stateUpdate(float dt);
void stateBeforeUpdate();
bool stateOnKey(bool keyDown, uint32_t key);
void stateDrawOverlay();

// Lets the renderer move the picture rectangle and the error report read the phase.
void connectPhases();
void releasePhases();
void resetPhasesForTests();

// Observers of a run for --trace and --dump-state; called by the phases.
void onSimulationFrameDone(int32_t frame);
void onPopulationCreated();

}  // namespace gx
