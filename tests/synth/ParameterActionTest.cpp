#include "platform/ParameterInfo.h"
#include "synth/ParameterAction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

using namespace ZRS;

namespace {

struct Applied
{
    float value;
    bool modulated;
    bool operator==(const Applied&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Applied& a)
{
    return os << '{' << a.value << (a.modulated ? ", mod}" : ", base}");
}

class RecordingActionListener : public ParameterActionListener
{
public:
    void applyParameterAction(uint64_t index, uint16_t code, float value, bool modulated) override
    {
        lastIndex = index;
        lastCode = code;
        applied.push_back({value, modulated});
    }
    void parameterActionActiveChanged(uint64_t index, uint16_t code, uint8_t active,
                                      uint8_t extra) override
    {
        activity.push_back({index, code, active, extra});
    }

    struct Activity
    {
        uint64_t index;
        uint16_t code;
        uint8_t active, extra;
        bool operator==(const Activity&) const = default;
    };
    std::vector<Applied> applied;
    std::vector<Activity> activity;
    uint64_t lastIndex = 0;
    uint16_t lastCode = 0;
};

// A source with any range; active only once written (or switched on).
class TestSource : public Modulator
{
public:
    explicit TestSource(uint8_t kind = kUnipolar, float lo = 0.0f, float hi = 1.0f)
        : kind(kind), lo(lo), hi(hi)
    {
    }
    uint8_t getRangeKind() const override { return kind; }
    float getMinValue() const override { return lo; }
    float getMaxValue() const override { return hi; }
    void set(float v)  // value and activity without telling anybody
    {
        value = v;
        active = 1;
    }

    uint8_t kind;
    float lo, hi;
};

ParameterInfo descriptor(float min, float max, float def, uint8_t math = 15, uint8_t flags = 0)
{
    ParameterInfo p("Test", ParameterInfo::Continuous, min, max, def, math, 0);
    p.flags = flags;
    return p;
}

ModRoute route(Modulator* source, float amount = 1.0f, Modulator* control = nullptr)
{
    ModRoute r;
    r.source = source;
    r.control = control;
    r.amount = amount;
    return r;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

}  // namespace

TEST(ParameterAction, Cases)
{
    struct Rig
    {
        ParameterAction& action;
        TestSource& a;
        TestSource& b;
        TestSource& raw;  // range kind 2, 0..127
    };
    const struct
    {
        const char* name;
        ParameterInfo info;
        std::function<void(Rig&)> run;
        std::vector<Applied> want;  // configure's application first
    } kCases[] = {
        {"7-bit amplitude clamps in the setter",
         ParameterInfo("Amplitude (7-bit)", ParameterInfo::Integer, 0, 127, 127, 11, 0x541),
         [](Rig& r) {
             r.action.setValue(200.0f);
             r.action.setValue(-5.0f);
         },
         {{127, false}, {127, false}, {0, false}}},
        {"invertible with the invert bit", descriptor(0, 127, 0, 15, 0x08),
         [](Rig& r) { r.action.setValueInvertible(100.0f); },
         {{0, false}, {27, false}}},
        {"invertible without the invert bit", descriptor(0, 127, 0, 15, 0x10),
         [](Rig& r) { r.action.setValueInvertible(100.0f); },
         {{0, false}, {100, false}}},
        {"offset adds every active route, then falls back to the base", descriptor(0, 100, 10),
         [](Rig& r) {
             r.a.set(0.5f);
             r.b.set(0.25f);
             r.action.addRoute(route(&r.a));
             r.action.addRoute(route(&r.b));
             r.a.setActive(0);
             r.b.setActive(0);
             r.action.modulatorValueChanged(nullptr, false);
         },
         {{10, false}, {60, true}, {85, true}, {10, false}}},
        {"accum adds on every notification; the invertible setter resets the sum",
         descriptor(-1000, 1000, 0),
         [](Rig& r) {
             r.action.addRoute(route(&r.raw));  // inactive source: base only
             EXPECT_TRUE(r.action.setMathMode(kMathAccum));
             for (int i = 0; i < 3; ++i)
                 r.raw.writeValue(1.0f);
             r.action.setValueInvertible(0.0f);
         },
         {{0, false}, {0, false}, {0, false}, {1, true}, {2, true}, {3, true}, {1, true}}},
        {"replace with a unipolar source above the window applies the window max",
         descriptor(0, 127, 0),
         [](Rig& r) {
             ModRoute w = route(&r.a);
             w.max = 0.5f;
             r.a.set(0.8f);
             r.action.addRoute(w);
             EXPECT_TRUE(r.action.setMathMode(kMathReplace));
         },
         {{0, false}, {0.5f, true}, {0.5f, true}}},
        {"a mode the descriptor does not allow is refused", descriptor(0, 1, 0, 3),
         [](Rig& r) {
             EXPECT_FALSE(r.action.setMathMode(kMathAccum));
             EXPECT_FALSE(r.action.setMathMode(0));
             EXPECT_EQ(r.action.mathMode(), kMathOffset);
         },
         {{0, false}}},
        {"clearRoutes returns to offset and applies the base", descriptor(0, 10, 2),
         [](Rig& r) {
             r.a.set(1.0f);
             r.action.addRoute(route(&r.a));
             EXPECT_TRUE(r.action.setMathMode(kMathReplace));
             r.action.clearRoutes();
             EXPECT_EQ(r.action.mathMode(), kMathOffset);
             EXPECT_TRUE(r.action.routes().empty());
             EXPECT_TRUE(r.a.listeners().empty());
         },
         {{2, false}, {10, true}, {10, true}, {2, false}}},
        {"a second route of the same source replaces the first", descriptor(0, 10, 0),
         [](Rig& r) {
             r.a.set(0.5f);
             r.action.addRoute(route(&r.a, 1.0f));
             r.action.addRoute(route(&r.a, 2.0f));
             EXPECT_EQ(r.action.routes().size(), 1u);
             EXPECT_EQ(r.a.listeners().size(), 1u);
         },
         {{0, false}, {5, true}, {10, true}}},
        {"mode 3 applies nothing", descriptor(0, 10, 4, 3),
         [](Rig& r) {
             EXPECT_TRUE(r.action.setMathMode(3));
             r.action.setValue(5.0f);
             r.a.set(1.0f);
             r.action.addRoute(route(&r.a));
         },
         {{4, false}}},
        {"min above max: the setter takes min first, the recompute lets min win",
         descriptor(10, 0, 5),
         [](Rig& r) {
             EXPECT_EQ(r.action.baseValue(), 10.0f);  // 5 < min
             r.action.setValue(20.0f);
             EXPECT_EQ(r.action.baseValue(), 0.0f);  // not below min, above max
         },
         {{10, false}, {10, false}}},
    };

    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TestSource a, b, raw(kRawScale, 0.0f, 127.0f);
        RecordingActionListener listener;
        {
            ParameterAction action;
            action.configure(3, 9, &c.info, &listener);
            Rig rig{action, a, b, raw};
            c.run(rig);
        }
        EXPECT_EQ(listener.applied, c.want);
        EXPECT_EQ(listener.lastIndex, 3u);
        EXPECT_EQ(listener.lastCode, 9u);
        EXPECT_TRUE(a.listeners().empty() && b.listeners().empty() && raw.listeners().empty());
    }
}

TEST(ParameterAction, CurveCodes)
{
    const float xs[] = {0.0f, 0.25f, 0.5f, 1.0f};
    const struct
    {
        uint32_t code;
        float want[4];
    } kCases[] = {
        {0, {0, 0.25f, 0.5f, 1}},
        {1, {1, 0.75f, 0.5f, 0}},
        {2, {0, 0.0625f, 0.25f, 1}},
        {3, {1, 0.9375f, 0.75f, 0}},
        {4, {0, 0.015625f, 0.125f, 1}},
        {5, {1, 0.984375f, 0.875f, 0}},
        {6, {0, 0.5f, std::sqrt(0.5f), 1}},
        {7, {1, 0.5f, 1 - std::sqrt(0.5f), 0}},
        {8, {0, 0, 1, 1}},
        {9, {1, 1, 0, 0}},
        {10, {0, 0.25f, 0.5f, 1}},
    };
    for (const auto& c : kCases)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ParameterAction::curve(c.code, xs[i]), c.want[i])
                << "code " << c.code << " x " << xs[i];
}

TEST(ParameterAction, RouteValuesBySourceAndControlKind)
{
    // Parameter max M = 100; offset 0.1 and amount 2 unless the source is raw.
    TestSource uni(kUnipolar), bi(kBipolar, -1, 1), raw(kRawScale, 0, 50), other(7);
    uni.set(0.25f);
    bi.set(-0.5f);
    raw.set(10.0f);
    other.set(3.0f);
    TestSource cUni(kUnipolar), cBi(kBipolar, -1, 1), cRaw(kRawScale, 0, 10);
    cUni.set(0.5f);
    cBi.set(-0.5f);  // (y - 0.5) * 2 with y = 0.25: -0.5
    cRaw.set(2.5f);  // a quarter of its span
    const struct
    {
        const char* name;
        TestSource* source;
        TestSource* control;
        uint8_t rawRange;
        float want;
    } kCases[] = {
        {"unipolar", &uni, nullptr, 0, (0.25f + 0.1f) * 2 * 100},
        {"unipolar, unipolar control", &uni, &cUni, 0, 0.5f * (0.35f * 2) * 100},
        {"unipolar, bipolar control", &uni, &cBi, 0, -0.5f * (0.35f * 2) * 100},
        {"unipolar, raw control", &uni, &cRaw, 0, 0.25f * (0.35f * 2) * 100},
        {"unipolar ignores rawRange", &uni, nullptr, 1, 0.35f * 2 * 100},
        {"bipolar", &bi, nullptr, 0, (-0.5f + 0.1f) * 2 * 100},
        {"bipolar, unipolar control", &bi, &cUni, 0, 0.5f * (-0.4f * 2) * 100},
        {"bipolar, bipolar control", &bi, &cBi, 0, -0.5f * (-0.4f * 2) * 100},
        {"bipolar, raw control", &bi, &cRaw, 0, 0.25f * (-0.4f * 2) * 100},
        {"raw", &raw, nullptr, 0, 2 * 10},
        {"raw, rawRange", &raw, nullptr, 1, 2 * 10 * (100.0f / 50)},
        {"raw, unipolar control", &raw, &cUni, 0, 2 * 10 * 0.5f},
        {"raw, bipolar control", &raw, &cBi, 0, 2 * 10 * -0.5f},
        {"raw, raw control, rawRange", &raw, &cRaw, 1, 2 * 10 * 0.25f * 2},
        {"unknown kind passes the value", &other, &cUni, 0, 3},
    };
    for (const auto& c : kCases) {
        ModRoute r = route(c.source, 2.0f, c.control);
        r.offset = 0.1f;
        r.rawRange = c.rawRange;
        EXPECT_FLOAT_EQ(ParameterAction::routeValue(r, 100.0f), c.want) << c.name;
    }

    ModRoute shaped = route(&uni);
    shaped.sourceFunction = 2;    // 0.25^2
    shaped.control = &cUni;
    shaped.controlFunction = 1;   // 1 - 0.5
    EXPECT_FLOAT_EQ(ParameterAction::routeValue(shaped, 100.0f), 0.5f * 0.0625f * 100);
    ModRoute windowed = route(&uni);
    windowed.min = 0.5f;  // below the window: the window's min itself
    EXPECT_EQ(ParameterAction::routeValue(windowed, 100.0f), 0.5f);
    TestSource cOther(9);
    cOther.set(0.1f);
    EXPECT_EQ(ParameterAction::controlFactor(route(&uni, 1, &cOther)), 1.0f);
    EXPECT_EQ(ParameterAction::controlFactor(route(&uni)), 1.0f);
}

TEST(ParameterAction, ScaleMultipliesTheBase)
{
    const ParameterInfo info = descriptor(-10, 128, 0.5f);
    TestSource uni, raw(kRawScale, 0, 127), control;
    uni.set(0.5f);
    raw.set(64.0f);
    control.set(0.5f);
    const struct
    {
        const char* name;
        ModRoute r;
        float want;
    } kCases[] = {
        {"unipolar", route(&uni), 0.5f * 0.5f},
        {"unipolar with a control", route(&uni, 1, &control), 0.5f * ((1 - 0.5f) + 0.5f * 0.5f)},
        {"raw over the parameter max", route(&raw), 0.5f * (64.0f / 128)},
        {"raw control counts as none", route(&uni, 1, &raw), 0.5f * 0.5f},
        {"above the window takes its max", [&] {
             ModRoute r = route(&uni, 3);
             r.max = 0.25f;
             return r;
         }(), 0.5f * 0.25f},
    };
    for (const auto& c : kCases) {
        RecordingActionListener listener;
        ParameterAction action;
        action.configure(0, 0, &info, &listener);
        action.addRoute(c.r);
        ASSERT_TRUE(action.setMathMode(kMathScale));
        ASSERT_FALSE(listener.applied.empty());
        EXPECT_FLOAT_EQ(listener.applied.back().value, c.want) << c.name;
        EXPECT_TRUE(listener.applied.back().modulated) << c.name;
    }
}

TEST(ParameterAction, ReplaceFollowsTheNotifyingSource)
{
    const ParameterInfo info = descriptor(0, 10, 1);
    TestSource a, b;
    RecordingActionListener listener;
    ParameterAction action;
    action.configure(0, 0, &info, &listener);
    action.addRoute(route(&a));
    action.addRoute(route(&b));
    ASSERT_TRUE(action.setMathMode(kMathReplace));
    EXPECT_EQ(listener.applied.back(), (Applied{1, false}));  // nothing active
    b.writeValue(0.3f);
    EXPECT_EQ(listener.applied.back(), (Applied{3, true}));
    a.writeValue(0.6f);
    EXPECT_EQ(listener.applied.back(), (Applied{6, true}));
    b.writeValue(0.2f);
    EXPECT_EQ(listener.applied.back(), (Applied{2, true}));
    action.modulatorValueChanged(&b, true);  // a starting timed source: the base
    EXPECT_EQ(listener.applied.back(), (Applied{1, true}));
}

TEST(ParameterAction, ActivityIsForwardedWithIndexAndCode)
{
    const ParameterInfo info = descriptor(0, 1, 0);
    TestSource a;
    RecordingActionListener listener;
    ParameterAction action;
    action.configure(7, 4, &info, &listener);
    action.addRoute(route(&a));
    a.writeValue(0.5f);
    a.notifyActiveChanged(0, 1);
    const std::vector<RecordingActionListener::Activity> want = {{7, 4, 1, 0}, {7, 4, 0, 1}};
    EXPECT_EQ(listener.activity, want);
}

TEST(ParameterAction, NothingThatIsNotFiniteReachesTheListener)
{
    const ParameterInfo info = descriptor(0, 100, 10);
    const ParameterInfo zeroMax = descriptor(-10, 0, -1);
    TestSource flat(kRawScale, 5, 5), nanSource, raw(kRawScale, 0, 127), negative;
    flat.set(5.0f);
    negative.set(-0.5f);
    nanSource.set(kNaN);
    raw.set(2.0f);

    // A constant raw source with rawRange and a constant raw control do not rescale.
    ModRoute r = route(&flat);
    r.rawRange = 1;
    EXPECT_EQ(ParameterAction::routeValue(r, 100.0f), 5.0f);
    EXPECT_EQ(ParameterAction::controlFactor(route(&raw, 1, &flat)), 1.0f);

    // Scale by a raw source under a zero maximum: no division.
    {
        RecordingActionListener listener;
        ParameterAction action;
        action.configure(0, 0, &zeroMax, &listener);
        action.addRoute(route(&raw));
        ASSERT_TRUE(action.setMathMode(kMathScale));
        EXPECT_EQ(listener.applied.back(), (Applied{-2, true}));
    }

    // NaN in a setter keeps the base; a NaN or infinite result applies the base unmodulated.
    const struct
    {
        const char* name;
        uint8_t mode;
        ModRoute r;
    } kCases[] = {
        {"offset, NaN source", kMathOffset, route(&nanSource)},
        {"replace, NaN source", kMathReplace, route(&nanSource)},
        {"accum, NaN source", kMathAccum, route(&nanSource)},
        {"offset, infinite amount", kMathOffset, route(&raw, kInf)},
        {"scale, NaN amount", kMathScale, route(&raw, kNaN)},
        {"offset, NaN control", kMathOffset, route(&raw, 1, &nanSource)},
        {"offset, square root of a negative value", kMathOffset, [&] {
             ModRoute s = route(&negative);
             s.sourceFunction = 6;
             return s;
         }()},
    };
    for (const auto& c : kCases) {
        RecordingActionListener listener;
        ParameterAction action;
        action.configure(0, 0, &info, &listener);
        action.setValue(kNaN);
        EXPECT_EQ(action.baseValue(), 10.0f) << c.name;
        action.setValueInvertible(kNaN);
        EXPECT_EQ(action.baseValue(), 10.0f) << c.name;
        ASSERT_TRUE(action.setMathMode(c.mode)) << c.name;
        action.addRoute(c.r);
        for (const Applied& a : listener.applied)
            EXPECT_TRUE(std::isfinite(a.value)) << c.name;
        EXPECT_EQ(listener.applied.back(), (Applied{10, false})) << c.name;
    }

    // A poisoned notification does not stick in the running sum.
    TestSource s(kRawScale, 0, 127);  // outlives the action bound to it
    RecordingActionListener listener;
    ParameterAction action;
    action.configure(0, 0, &info, &listener);
    ASSERT_TRUE(action.setMathMode(kMathAccum));
    action.addRoute(route(&s));
    s.writeValue(1.0f);
    s.writeValue(kNaN);
    s.writeValue(1.0f);
    EXPECT_EQ(listener.applied.back(), (Applied{12, true}));
    EXPECT_EQ(action.accumulated(), 2.0f);
}

TEST(ParameterAction, RoutesKeepTheListenerListsExact)
{
    const ParameterInfo info = descriptor(0, 1, 0);
    TestSource a, b, c;
    RecordingActionListener listener;
    ParameterAction action;
    action.configure(0, 0, &info, &listener);

    action.addRoute(route(&a, 1, &c));
    action.addRoute(route(&b, 1, &c));
    EXPECT_TRUE(a.hasListener(&action) && b.hasListener(&action));
    EXPECT_EQ(c.listeners().size(), 1u);
    action.removeRoute(&a);
    EXPECT_FALSE(a.hasListener(&action));
    EXPECT_TRUE(c.hasListener(&action));  // still b's control
    action.addRoute(route(&b));           // replaces b's route, which had c as control
    EXPECT_FALSE(c.hasListener(&action));
    action.removeRoute(&c);  // no such route: only a recompute
    EXPECT_EQ(action.routes().size(), 1u);
}

TEST(ParameterAction, DestroyedActionLeavesItsModulators)
{
    const ParameterInfo info = descriptor(0, 1, 0);
    TestSource a, control;
    RecordingActionListener listener;
    {
        ParameterAction action;
        action.configure(0, 0, &info, &listener);
        action.addRoute(route(&a, 1, &control));
    }
    EXPECT_TRUE(a.listeners().empty());
    EXPECT_TRUE(control.listeners().empty());
    a.writeValue(1.0f);  // would reach freed memory otherwise
    control.writeValue(1.0f);
}

TEST(ParameterActionVector, GrowingKeepsAddressesAndShrinkingUnbinds)
{
    const ParameterInfo info = descriptor(0, 100, 0);
    TestSource source;
    RecordingActionListener listener;
    ParameterActionVector actions;
    actions.resize(3);
    for (size_t i = 0; i < 3; ++i) {
        actions[i].configure(i, 1, &info, &listener);
        actions[i].addRoute(route(&source));
    }
    const ParameterAction* first = &actions[0];
    actions.resize(200);
    EXPECT_EQ(&actions[0], first);
    EXPECT_EQ(actions.size(), 200u);
    EXPECT_TRUE(actions[199].routes().empty());
    EXPECT_EQ(actions[199].mathMode(), kMathOffset);

    listener.applied.clear();
    source.writeValue(0.5f);
    EXPECT_EQ(listener.applied.size(), 3u);

    actions.resize(1);
    ASSERT_EQ(source.listeners().size(), 1u);
    EXPECT_EQ(source.listeners()[0], first);
    listener.applied.clear();
    source.writeValue(0.25f);
    EXPECT_EQ(listener.applied, (std::vector<Applied>{{25, true}}));

    ParameterActionVector moved = std::move(actions);
    EXPECT_EQ(&moved[0], first);
}

TEST(ParameterActionVector, HelpersClearEveryRoute)
{
    const ParameterInfo info = descriptor(0, 1, 0.5f);
    TestSource source;
    RecordingActionListener listener;
    std::vector<ParameterActionVector> lists(2);
    for (ParameterActionVector& list : lists) {
        list.resize(2);
        for (size_t i = 0; i < 2; ++i) {
            list[i].configure(i, 0, &info, &listener);
            list[i].addRoute(route(&source));
            ASSERT_TRUE(list[i].setMathMode(kMathReplace));
        }
    }
    EXPECT_EQ(source.listeners().size(), 4u);
    clearActionRoutes(lists[0]);
    EXPECT_EQ(source.listeners().size(), 2u);
    clearActionRoutes(lists);
    EXPECT_TRUE(source.listeners().empty());
    for (ParameterActionVector& list : lists)
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(list[i].mathMode(), kMathOffset);
}
