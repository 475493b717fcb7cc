#pragma once
// The value of one synth parameter as the sound engine sees it: a base value combined with
// modulation routes by one of four math modes, clamped and handed to a listener.

#include "synth/Modulator.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class ParameterInfo;

namespace ZRS {

class ParameterActionListener
{
public:
    virtual ~ParameterActionListener() = default;
    virtual void parameterActionActiveChanged(uint64_t /*index*/, uint16_t /*code*/,
                                              uint8_t /*active*/, uint8_t /*extra*/)
    {
    }
    virtual void applyParameterAction(uint64_t index, uint16_t code, float value,
                                      bool modulated) = 0;
};

struct ModRoute
{
    Modulator* source = nullptr;   // counts only while present and active
    Modulator* control = nullptr;  // optional, scales the contribution
    float offset = 0.0f;
    float amount = 1.0f;
    float min = -9999.0f;          // window on the raw source value
    float max = 9999.0f;
    uint32_t sourceFunction = 0;   // curve codes, see ParameterAction::curve
    uint32_t controlFunction = 0;
    uint64_t voiceGroup = 0;       // for the routing code; not read here
    uint8_t rawRange = 0;          // raw-scale sources: times the parameter max over their span
};

enum MathMode : uint8_t { kMathReplace = 1, kMathOffset = 2, kMathAccum = 4, kMathScale = 8 };

// Invariant: a modulator lists this action exactly while it is the source or the control of one
// of its routes. Actions are neither copied nor moved, since modulators hold their address.
class ParameterAction : public ModListener
{
public:
    ParameterAction() = default;
    ParameterAction(const ParameterAction&) = delete;
    ParameterAction& operator=(const ParameterAction&) = delete;
    // Leaves the listener lists of the modulators of its remaining routes.
    ~ParameterAction() override;

    void configure(uint64_t index, uint16_t code, const ParameterInfo* descriptor,
                   ParameterActionListener* listener);
    void setValue(float v);
    void setValueInvertible(float v);
    bool setMathMode(uint8_t mode);

    void addRoute(const ModRoute& route);
    void removeRoute(const Modulator* source);
    void clearRoutes();

    void modulatorValueChanged(Modulator* source, bool reset) override;
    void modulatorActiveChanged(Modulator* source, uint8_t active, uint8_t extra) override;

    float baseValue() const { return base; }
    float accumulated() const { return accum; }
    void setAccumulated(float v) { accum = v; }
    uint64_t index() const { return actionIndex; }
    uint16_t code() const { return actionCode; }
    uint8_t mathMode() const { return mode; }
    const ParameterInfo* descriptor() const { return info; }
    ParameterActionListener* listener() const { return target; }
    const std::vector<ModRoute>& routes() const { return routeList; }

    // Curve codes: 1 1-x, 2 x^2, 3 1-x^2, 4 x^3, 5 1-x^3, 6 sqrt x, 7 1-sqrt x, 8 step up at
    // 0.5, 9 step down at 0.5, anything else x.
    static float curve(uint32_t code, float x);
    // 1 without a control; else the control's value normalised by its range kind and shaped.
    static float controlFactor(const ModRoute& route);
    // A route's contribution for a parameter whose maximum is paramMax.
    static float routeValue(const ModRoute& route, float paramMax);

private:
    void storeBase(float v);
    float clampForRecompute(float v) const;
    void apply(float v, bool modulated);
    void deliver(float v, bool modulated);
    void listenTo(Modulator* m);
    void unlistIfUnused(Modulator* m);

    float base = 0.0f;
    float accum = 0.0f;
    uint64_t actionIndex = 0;
    uint16_t actionCode = 0;
    uint8_t mode = kMathOffset;
    const ParameterInfo* info = nullptr;
    ParameterActionListener* target = nullptr;
    std::vector<ModRoute> routeList;
};

// A growable list of actions whose elements never move: growing appends default-constructed
// actions, shrinking destroys from the end.
class ParameterActionVector
{
public:
    ParameterActionVector() = default;
    ParameterActionVector(ParameterActionVector&&) = default;
    ParameterActionVector& operator=(ParameterActionVector&& other) noexcept;
    ~ParameterActionVector() { clear(); }

    size_t size() const { return items.size(); }
    bool empty() const { return items.empty(); }
    ParameterAction& operator[](size_t i) { return *items[i]; }
    const ParameterAction& operator[](size_t i) const { return *items[i]; }
    ParameterAction& emplaceBack();
    void resize(size_t n);
    void clear() { resize(0); }

private:
    std::vector<std::unique_ptr<ParameterAction>> items;
};

// clearRoutes on every action, in order.
void clearActionRoutes(ParameterActionVector& actions);
void clearActionRoutes(std::vector<ParameterActionVector>& lists);

}  // namespace ZRS
