#pragma once
// Captured SID frames to a patch: the first frame's values become the controller's patch, every
// field that changes over the frames becomes a step modulator (a routing line "source=STEPn"
// plus the step table of slot n). At most 15 modulators, at most 128 steps each.

#include "machine/SIDAnalyser.h"

#include <cstdint>
#include <string>
#include <vector>

class ParameterInfo;
class SIDCtrl;

struct CaptureRoutingContext
{
    uint64_t slot = 0;  // next step slot; also the number written after "source=STEP"
    std::string text;   // the routing lines so far
    SIDCtrl& controller;
    float speed = 1.0f;
};

// Records in frame order; voiceMask bit v = voice v taken in full. Applies the patch and installs
// the routing text (empty when nothing changes); changes nothing when no voice of the mask has a
// frequency.
void captureToStepPatch(SIDCtrl& controller, const std::vector<SidFrameAnalysis>& records,
                        uint64_t voiceMask, float speed);

// A REPLACE modulator on `parameter` for a track that changes (one value per frame).
void addStepByteModulator(CaptureRoutingContext& context, const ParameterInfo& parameter,
                          const std::vector<uint8_t>& values);
void addStepBitModulator(CaptureRoutingContext& context, const ParameterInfo& parameter,
                         const std::vector<bool>& bits, uint32_t loopMode);

// The record every frame is analysed into: pulse width 2048, envelope 0 0 15 0, pulse wave,
// everything else 0.
SidFrameAnalysis presetFrameAnalysis();
