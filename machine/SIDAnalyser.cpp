#include "machine/SIDAnalyser.h"

namespace {

// The voice fields the analysis fills, as a voice record starts before a frame.
struct VoiceFields
{
    uint16_t pulseWidth = 0;
    uint8_t attack = 0, decay = 0, sustain = 0, release = 0;
    uint8_t waveform = 0;
    uint8_t gate = 0, sync = 0, ring = 0, test = 0;
    uint8_t filtered = 0;
};

}  // namespace

void SIDAnalyser::analyseFrame(const SID_shadow& frame, SidFrameAnalysis& record, uint64_t voiceMask)
{
    const uint8_t* r = frame.regs;
    VoiceFields voices[3];
    record.cutoff = uint16_t((r[21] & 7) + r[22] * 8);
    record.resonance = uint8_t(r[23] >> 4);
    record.externalFiltered = (r[23] >> 3) & 1;
    record.lowPass = (r[24] >> 4) & 1;
    record.bandPass = (r[24] >> 5) & 1;
    record.highPass = (r[24] >> 6) & 1;
    record.voice3Off = (r[24] >> 7) & 1;
    record.volume = r[24] & 15;
    for (unsigned v = 0; v < 3; ++v) {
        if (!((voiceMask >> v) & 1))
            continue;
        const uint8_t* vr = r + 7 * v;
        VoiceFields& voice = voices[v];
        voice.filtered = (r[23] >> v) & 1;
        frequencies[v] = float(double(vr[1] * 256 + vr[0]) * frequencyScale);
        voice.pulseWidth = uint16_t((vr[3] & 15) * 256 + vr[2]);
        voice.gate = vr[4] & 1;
        voice.sync = (vr[4] >> 1) & 1;
        voice.ring = (vr[4] >> 2) & 1;
        voice.test = (vr[4] >> 3) & 1;
        voice.waveform = uint8_t(vr[4] >> 4);
        voice.attack = uint8_t(vr[5] >> 4);
        voice.decay = vr[5] & 15;
        voice.sustain = uint8_t(vr[6] >> 4);
        voice.release = vr[6] & 15;
    }
    for (unsigned v = 0; v < 3; ++v) {
        SidFrameAnalysis::Voice& out = record.voices[v];
        const VoiceFields& in = voices[v];
        out.pulseWidth = in.pulseWidth;
        out.attack = in.attack;
        out.decay = in.decay;
        out.sustain = in.sustain;
        out.release = in.release;
        out.waveform = in.waveform;
        out.gate = in.gate;
        out.sync = in.sync;
        out.ring = in.ring;
        out.test = in.test;
        out.filtered = in.filtered;
        out.frequency = frequencies[v];
        out.voice3Off = v == 2 ? record.voice3Off : 0;
    }
}
