// The three phases of the saver's cycle (wind-up, simulation, wind-down), the machine
// that holds the current one, and the values the phases share with the rest.
#pragma once

#include <cstdint>

namespace gx {

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
extern uint8_t* colourBucket;

void switchState(State* next);
bool phaseHeld();

// Slot wrappers; harmless without a current state.
void stateUpdate(float dt);
void stateBeforeUpdate();
bool stateOnKey(bool keyDown, uint32_t key);
void stateDrawOverlay();

// The colour matching of the wind-down, on the current population.
void matchColours();
// Bucket size for n particles.
int32_t bucketSize(uint32_t n);

// Lets the renderer move the picture rectangle and the error report read the phase.
void connectPhases();
void releasePhases();
void resetPhasesForTests();

// Observers of a run for --trace and --dump-state; called by the phases.
void onSimulationFrameDone(int32_t frame);
void onPopulationCreated();

}  // namespace gx
