// The frame timeline's decisions, kept apart from drawing so they can be
// checked without a GL context.
#pragma once
#include <cstdint>

struct TimelineState {
    float startTime;   // tick count in seconds at the first frame; 0: not taken yet
};
extern TimelineState timeline;
void timelineReset();

struct FrameDecision {
    bool startMusic;      // first loaded frame after 7 s
    bool mainPhase;       // song position 1 or more, or not a number
    bool introCard;       // intro frames after 2 s draw the card
    bool introRing;       // ... and after 7 s the ring
};

float songPositionOf(int32_t order, int32_t row);
// The main phase: song position 1 or more; a position that is not a number counts too.
bool inMainPhase(float songPosition);
FrameDecision decideFrame(float demoTime, float songPosition, int32_t musicStarted);
