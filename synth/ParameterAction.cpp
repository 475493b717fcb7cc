#include "synth/ParameterAction.h"

#include "platform/ParameterInfo.h"

#include <cmath>

namespace ZRS {

namespace {

constexpr uint8_t kInvertFlag = 0x08;

bool isRouteActive(const ModRoute& r)
{
    return r.source && r.source->isActive();
}

}  // namespace

ParameterAction::~ParameterAction()
{
    for (const ModRoute& r : routeList) {
        if (r.source)
            r.source->removeListener(this);
        if (r.control)
            r.control->removeListener(this);
    }
}

void ParameterAction::configure(uint64_t index, uint16_t code, const ParameterInfo* descriptor,
                                ParameterActionListener* listener)
{
    actionIndex = index;
    actionCode = code;
    info = descriptor;
    target = listener;
    if (info)
        storeBase(info->defaultValue);
    modulatorValueChanged(nullptr, false);
}

// Setter order: below min gives min, else above max gives max. NaN keeps the previous value.
void ParameterAction::storeBase(float v)
{
    if (std::isnan(v))
        return;
    if (info) {
        const float lo = info->minValue, hi = info->maxValue;
        if (v < lo)
            v = lo;
        else if (v > hi)
            v = hi;
    }
    base = v;
}

// Recompute order: max first, then min, so min wins when min > max.
float ParameterAction::clampForRecompute(float v) const
{
    const float lo = info->minValue, hi = info->maxValue;
    if (v > hi)
        v = hi;
    if (v < lo)
        v = lo;
    return v;
}

void ParameterAction::setValue(float v)
{
    storeBase(v);
    modulatorValueChanged(nullptr, false);
}

void ParameterAction::setValueInvertible(float v)
{
    if (!std::isnan(v)) {
        storeBase(v);
        if (info && (info->flags & kInvertFlag))
            base = info->maxValue - base;
    }
    modulatorValueChanged(nullptr, true);
}

bool ParameterAction::setMathMode(uint8_t newMode)
{
    if (!info || (info->mathFlags & newMode) == 0)
        return false;
    mode = newMode;
    modulatorValueChanged(nullptr, false);
    return true;
}

void ParameterAction::listenTo(Modulator* m)
{
    if (m)
        m->addListener(this);
}

void ParameterAction::unlistIfUnused(Modulator* m)
{
    if (!m)
        return;
    for (const ModRoute& r : routeList)
        if (r.source == m || r.control == m)
            return;
    m->removeListener(this);
}

void ParameterAction::addRoute(const ModRoute& route)
{
    listenTo(route.source);
    listenTo(route.control);
    bool replaced = false;
    for (ModRoute& r : routeList) {
        if (r.source == route.source) {
            Modulator* oldControl = r.control;
            r = route;
            unlistIfUnused(oldControl);
            replaced = true;
            break;
        }
    }
    if (!replaced)
        routeList.push_back(route);
    modulatorValueChanged(nullptr, false);
}

void ParameterAction::removeRoute(const Modulator* source)
{
    for (auto it = routeList.begin(); it != routeList.end(); ++it) {
        if (it->source == source) {
            const ModRoute removed = *it;
            routeList.erase(it);
            unlistIfUnused(removed.source);
            unlistIfUnused(removed.control);
            break;
        }
    }
    modulatorValueChanged(nullptr, false);
}

void ParameterAction::clearRoutes()
{
    accum = 0.0f;
    mode = kMathOffset;
    for (const ModRoute& r : routeList) {
        if (r.source)
            r.source->removeListener(this);
        if (r.control)
            r.control->removeListener(this);
    }
    routeList.clear();
    modulatorValueChanged(nullptr, false);
}

float ParameterAction::curve(uint32_t code, float x)
{
    switch (code) {
    case 1: return 1.0f - x;
    case 2: return x * x;
    case 3: return 1.0f - x * x;
    case 4: return x * x * x;
    case 5: return 1.0f - x * x * x;
    case 6: return std::sqrt(x);
    case 7: return 1.0f - std::sqrt(x);
    case 8: return x < 0.5f ? 0.0f : 1.0f;
    case 9: return x < 0.5f ? 1.0f : 0.0f;
    default: return x;
    }
}

float ParameterAction::controlFactor(const ModRoute& route)
{
    const Modulator* c = route.control;
    if (!c)
        return 1.0f;
    const float v = c->getValue();
    switch (c->getRangeKind()) {
    case kUnipolar:
        return curve(route.controlFunction, v);
    case kBipolar: {
        const float y = curve(route.controlFunction, 0.5f * v + 0.5f);
        return (y - 0.5f) + (y - 0.5f);
    }
    case kRawScale: {
        const float lo = c->getMinValue();
        const float span = c->getMaxValue() - lo;
        if (span == 0.0f)  // a constant control does not rescale
            return 1.0f;
        return curve(route.controlFunction, (v - lo) / span);
    }
    default:
        return 1.0f;
    }
}

float ParameterAction::routeValue(const ModRoute& route, float paramMax)
{
    const Modulator* src = route.source;
    if (!src)
        return 0.0f;
    const float s = src->getValue();
    switch (src->getRangeKind()) {
    case kUnipolar: {
        if (s > route.max)
            return route.max;
        if (s < route.min)
            return route.min;
        const float x = curve(route.sourceFunction, s);
        return controlFactor(route) * ((x + route.offset) * route.amount) * paramMax;
    }
    case kBipolar: {
        const float y = curve(route.sourceFunction, 0.5f * s + 0.5f);
        const float x = (y - 0.5f) + (y - 0.5f);
        return controlFactor(route) * ((x + route.offset) * route.amount) * paramMax;
    }
    case kRawScale: {
        float r = (route.amount * s) * controlFactor(route);
        if (route.rawRange) {
            const float span = src->getMaxValue() - src->getMinValue();
            if (span != 0.0f)  // a constant source does not rescale
                r = r * (paramMax / span);
        }
        return r;
    }
    default:
        return s;
    }
}

void ParameterAction::modulatorActiveChanged(Modulator* /*source*/, uint8_t active, uint8_t extra)
{
    if (target)
        target->parameterActionActiveChanged(actionIndex, actionCode, active, extra);
}

// Hands a computed value on clamped; a value that is not finite falls back to the base value.
void ParameterAction::apply(float v, bool modulated)
{
    if (!std::isfinite(v)) {
        v = base;
        modulated = false;
    }
    deliver(clampForRecompute(v), modulated);
}

// The listener never sees a value that is not finite (only bounds that are not finite get here).
void ParameterAction::deliver(float v, bool modulated)
{
    if (std::isfinite(v))
        target->applyParameterAction(actionIndex, actionCode, v, modulated);
}

void ParameterAction::modulatorValueChanged(Modulator* source, bool reset)
{
    if (!info || !target)
        return;
    const float paramMax = info->maxValue;
    switch (mode) {
    case kMathReplace: {
        if (reset) {
            deliver(base, true);
            return;
        }
        const ModRoute* chosen = nullptr;
        for (const ModRoute& r : routeList) {
            if (source ? r.source == source : isRouteActive(r)) {
                chosen = &r;
                break;
            }
        }
        if (chosen)
            apply(routeValue(*chosen, paramMax), true);
        else
            deliver(base, false);
        return;
    }
    case kMathOffset: {
        float v = base;
        bool any = false;
        for (const ModRoute& r : routeList) {
            if (isRouteActive(r)) {
                v += routeValue(r, paramMax);
                any = true;
            }
        }
        apply(v, any);
        return;
    }
    case kMathAccum: {
        if (reset)
            accum = 0.0f;
        float a = accum;
        bool any = false;
        for (const ModRoute& r : routeList) {
            if (isRouteActive(r)) {
                a += routeValue(r, paramMax);
                any = true;
            }
        }
        apply(base + a, any);
        if (std::isfinite(a))  // a poisoned sum would stick until the next reset
            accum = a;
        return;
    }
    case kMathScale: {
        float v = base;
        bool any = false;
        for (const ModRoute& r : routeList) {
            if (!isRouteActive(r))
                continue;
            any = true;
            const bool raw = r.source->getRangeKind() == kRawScale;
            float s = r.source->getValue();
            if (raw || (r.min <= s && s <= r.max))
                s = (s + r.offset) * r.amount;
            else
                s = s > r.max ? r.max : r.min;
            if (raw && paramMax != 0.0f)  // a zero maximum does not rescale
                s = s / paramMax;
            if (!r.control || r.control->getRangeKind() == kRawScale) {
                v = v * s;
            } else {
                const float c = r.control->getValue();
                v = v * ((1.0f - c) + s * c);
            }
        }
        apply(v, any);
        return;
    }
    default:
        return;  // no such mode: nothing is applied
    }
}

ParameterActionVector& ParameterActionVector::operator=(ParameterActionVector&& other) noexcept
{
    if (this != &other) {
        clear();
        items = std::move(other.items);
    }
    return *this;
}

ParameterAction& ParameterActionVector::emplaceBack()
{
    items.push_back(std::make_unique<ParameterAction>());
    return *items.back();
}

void ParameterActionVector::resize(size_t n)
{
    while (items.size() > n)
        items.pop_back();
    while (items.size() < n)
        emplaceBack();
}

void clearActionRoutes(ParameterActionVector& actions)
{
    for (size_t i = 0; i < actions.size(); ++i)
        actions[i].clearRoutes();
}

void clearActionRoutes(std::vector<ParameterActionVector>& lists)
{
    for (ParameterActionVector& actions : lists)
        clearActionRoutes(actions);
}

}  // namespace ZRS
