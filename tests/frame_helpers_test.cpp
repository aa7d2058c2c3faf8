// Unit tests of the mechanics the three tools share: the drag nudge in both precisions and driven
// by a panel's rows, the channel name span match and the dominant-axis choice.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frame/host_helpers.h"

namespace {

// Two distinct fake buttons; accepting an event only compares their addresses.
host_control button_a{}, button_b{};

struct Nudge {
    frame_drag_memory memory{nullptr, 0};
    frame_nudge_precision precision;
    explicit Nudge(frame_nudge_precision p) : precision(p) {}
    // Arms button_a at drag value 0, then sends one event with value n; returns the stepped value.
    float step_from(double field, int32_t n) {
        memory = {nullptr, 0};
        float out = -12345.0f;
        EXPECT_EQ(frame_nudge_accept(&memory, &button_a, 0), 0);
        EXPECT_EQ(frame_nudge_accept(&memory, &button_a, n), 1);
        EXPECT_EQ(frame_nudge_step(&memory, n, field, precision, &out), 1);
        return out;
    }
    float up(double field) { return step_from(field, 1); }
    float down(double field) { return step_from(field, -1); }
};

TEST(DragNudge, SinglePrecisionRows) {
    Nudge n(FRAME_NUDGE_SINGLE);
    EXPECT_EQ(n.up(90.0), 90.9f);
    EXPECT_EQ(n.up(-90.0), -89.1f);
    EXPECT_EQ(n.down(90.0), 89.1f);
    EXPECT_EQ(n.up(0.0), 0.001f);
    EXPECT_EQ(n.down(0.0), -0.001f);
    EXPECT_EQ(n.up(0.005), 0.005f + 0.001f);
    EXPECT_NEAR(n.up(0.005), 0.006, 1e-9);
    EXPECT_EQ(n.up(99999.0), 100000.0f);
    EXPECT_EQ(n.up(100000.0), 100000.0f);
    EXPECT_EQ(n.down(-100000.0), -100000.0f);
}

TEST(DragNudge, SinglePrecisionRoundsTheFieldFirst) {
    // 0.1 typed into a field is not a float; the single-precision nudge steps the rounded value.
    Nudge n(FRAME_NUDGE_SINGLE);
    const float v = 0.1f;
    EXPECT_EQ(n.up(0.1), v + v / 100.0f);
}

TEST(DragNudge, DoublePrecisionRows) {
    Nudge n(FRAME_NUDGE_DOUBLE);
    EXPECT_EQ(n.up(50.0), 50.5f);
    EXPECT_EQ(n.up(50.5), 51.005f); // the second step of 50 -> 50.5 -> 51.005
    EXPECT_EQ(n.down(50.0), 49.5f);
    EXPECT_EQ(n.up(-50.0), -49.5f);
    EXPECT_EQ(n.down(-50.0), -50.5f);
    EXPECT_EQ(n.up(0.0), 0.001f);
    EXPECT_EQ(n.down(0.0), -0.001f);
    EXPECT_EQ(n.up(0.005), 0.006f);
    EXPECT_EQ(n.down(0.005), 0.004f);
    EXPECT_EQ(n.down(-0.005), -0.006f);
    EXPECT_EQ(n.up(99999.0), 100000.0f);
    EXPECT_EQ(n.up(100000.0), 100000.0f);
}

TEST(DragNudge, SingleAndDoubleStepOneThirdToDifferentFloats) {
    // 1/3 steps differently when the step is formed in float rather than in double.
    Nudge single(FRAME_NUDGE_SINGLE), twice(FRAME_NUDGE_DOUBLE);
    const double v = 1.0 / 3.0;
    const float vf = static_cast<float>(v);
    EXPECT_EQ(single.up(v), vf + vf / 100.0f);
    EXPECT_EQ(twice.up(v), static_cast<float>(v + v / 100.0));
}

TEST(DragNudge, DirectionFollowsTheRememberedValue) {
    frame_drag_memory m{nullptr, 0};
    float out = 0.0f;
    EXPECT_EQ(frame_nudge_accept(&m, &button_a, 10), 0);
    EXPECT_EQ(m.button, &button_a);
    EXPECT_EQ(m.value, 10);
    EXPECT_EQ(frame_nudge_accept(&m, &button_a, 11), 1);
    EXPECT_EQ(m.value, 10) << "accepting leaves the value to the step";
    EXPECT_EQ(frame_nudge_step(&m, 11, 50.0, FRAME_NUDGE_DOUBLE, &out), 1);
    EXPECT_EQ(out, 50.5f);
    EXPECT_EQ(m.value, 11);
    // An unchanged drag value steps down.
    EXPECT_EQ(frame_nudge_step(&m, 11, 50.0, FRAME_NUDGE_DOUBLE, &out), 1);
    EXPECT_EQ(out, 49.5f);
}

TEST(DragNudge, AnotherButtonOnlyArms) {
    frame_drag_memory m{nullptr, 0};
    frame_nudge_accept(&m, &button_a, 0);
    frame_nudge_accept(&m, &button_a, 5);
    EXPECT_EQ(frame_nudge_accept(&m, &button_b, 9), 0);
    EXPECT_EQ(m.button, &button_b);
    EXPECT_EQ(m.value, 9);
}

TEST(DragNudge, NaNFieldLeavesEverythingUnchanged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (frame_nudge_precision p : {FRAME_NUDGE_SINGLE, FRAME_NUDGE_DOUBLE}) {
        frame_drag_memory m{&button_a, 2};
        float out = 7.0f;
        EXPECT_EQ(frame_nudge_step(&m, 3, nan, p, &out), 0);
        EXPECT_EQ(out, 7.0f);
        EXPECT_EQ(m.value, 2);
    }
}

TEST(DragNudge, InfiniteFieldClampsUpAndStaysDown) {
    const double inf = std::numeric_limits<double>::infinity();
    Nudge n(FRAME_NUDGE_DOUBLE);
    EXPECT_EQ(n.up(inf), 100000.0f);
    frame_drag_memory m{&button_a, 0};
    float out = 7.0f;
    // inf - inf is NaN: no rule gives a value, nothing changes.
    EXPECT_EQ(frame_nudge_step(&m, -1, inf, FRAME_NUDGE_DOUBLE, &out), 0);
}

// A control whose value attribute holds an integer (a drag button) or a double (a field).
struct FakeControl {
    host_control record;
    int32_t int_value = 0;
    double float_value = 0.0;
    int float_reads = 0;
};
FakeControl *fake(host_control *c) { return reinterpret_cast<FakeControl *>(c); }
void HOST_CALL fake_get(host_control *c, int32_t, void *value) {
    if (static_cast<host_value_int *>(value)->type == HOST_VALUE_INT) {
        static_cast<host_value_int *>(value)->value = fake(c)->int_value;
    } else {
        static_cast<host_value_float *>(value)->value = fake(c)->float_value;
        ++fake(c)->float_reads;
    }
}
void HOST_CALL fake_set(host_control *c, int32_t, void *value) {
    fake(c)->float_value = static_cast<host_value_float *>(value)->value;
}

TEST(DragNudge, RowsStepTheButtonsFieldIntoItsStore) {
    FakeControl buttons[2], fields[2], stray;
    for (FakeControl *c : {&buttons[0], &buttons[1], &fields[0], &fields[1], &stray})
        c->record = {nullptr, fake_get, fake_set};
    float setting = 0.0f;
    double coordinate = 0.0;
    const frame_nudge_row rows[2] = {{&buttons[0].record, &fields[0].record, &setting, nullptr},
                                     {&buttons[1].record, &fields[1].record, nullptr, &coordinate}};
    frame_drag_memory m{nullptr, 0};
    fields[1].float_value = 50.0;
    buttons[1].int_value = 3;
    EXPECT_EQ(frame_nudge_rows(&m, &buttons[1].record, rows, 2, FRAME_NUDGE_DOUBLE), 0) << "a new button arms";
    EXPECT_EQ(fields[1].float_reads, 1) << "the row's field is read before the event is accepted";
    buttons[1].int_value = 4;
    EXPECT_EQ(frame_nudge_rows(&m, &buttons[1].record, rows, 2, FRAME_NUDGE_DOUBLE), 1);
    EXPECT_EQ(fields[1].float_value, 50.5);
    EXPECT_EQ(coordinate, 50.5);
    EXPECT_EQ(setting, 0.0f);
    EXPECT_EQ(m.value, 4);

    // A button of no row arms, but never steps anything.
    stray.int_value = 3;
    EXPECT_EQ(frame_nudge_rows(&m, &stray.record, rows, 2, FRAME_NUDGE_DOUBLE), 0);
    stray.int_value = 4;
    EXPECT_EQ(frame_nudge_rows(&m, &stray.record, rows, 2, FRAME_NUDGE_DOUBLE), 0);
    EXPECT_EQ(m.button, &stray.record);
    EXPECT_EQ(m.value, 3);
    EXPECT_EQ(fields[0].float_reads + fields[1].float_reads, 2);
}

TEST(SpanMatch, OwnTargetOnly) {
    const char *names[6] = {"Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P", "Rotation.B"};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            EXPECT_EQ(frame_span_match(names[i], names[j]), i == j) << names[i] << " vs " << names[j];
}

TEST(SpanMatch, LeadingRunDecides) {
    EXPECT_TRUE(frame_span_match("Position.XTra", "Position.X"));
    EXPECT_TRUE(frame_span_match("Position.X.1", "Position.X"));
    EXPECT_TRUE(frame_span_match("XXXXXXXXXX", "Position.X")); // ten characters all from the target
    EXPECT_FALSE(frame_span_match("Position.", "Position.X")); // nine characters
    EXPECT_FALSE(frame_span_match("Rotation.h", "Rotation.H"));
    EXPECT_FALSE(frame_span_match("", "Position.X"));
    EXPECT_FALSE(frame_span_match(nullptr, "Position.X"));
}

TEST(DominantAxis, StrictLargestMagnitude) {
    const double x[3] = {0.9, 0.1, -0.2}, y[3] = {0.0, -0.9, 0.1}, z[3] = {0.1, 0.2, 0.3};
    EXPECT_EQ(frame_dominant_axis(x, 7, 0), 1);
    EXPECT_EQ(frame_dominant_axis(y, 7, 0), 2);
    EXPECT_EQ(frame_dominant_axis(y, 7, 1), -2);
    EXPECT_EQ(frame_dominant_axis(z, 7, 1), 3);
    const double negx[3] = {-1.0, 0.0, 0.0}, zero_y[3] = {0.0, -0.0, 0.0};
    EXPECT_EQ(frame_dominant_axis(negx, 7, 1), -1);
    EXPECT_EQ(frame_dominant_axis(negx, 7, 0), 1);
    EXPECT_EQ(frame_dominant_axis(zero_y, 7, 1), 7);
}

TEST(DominantAxis, TiesAndNaNKeepTheCurrentCode) {
    const double tie_xy[3] = {0.5, -0.5, 0.2}, tie_all[3] = {1.0, 1.0, 1.0};
    const double nan_axis[3] = {std::nan(""), 0.5, 0.2};
    EXPECT_EQ(frame_dominant_axis(tie_xy, 1, 0), 1);
    EXPECT_EQ(frame_dominant_axis(tie_xy, -3, 1), -3);
    EXPECT_EQ(frame_dominant_axis(tie_all, 2, 0), 2);
    // A NaN component is never the largest, and it makes no other component strictly larger.
    EXPECT_EQ(frame_dominant_axis(nan_axis, 3, 0), 3);
}

} // namespace
