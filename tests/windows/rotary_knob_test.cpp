#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "gdi_support.h"
#include "ui/controls/rotary_knob_win.h"

namespace mimicore::testing {
namespace {

// A 34 x 30 knob at (20, 10) over a green background. Its face is pure
// black (see-through) but for a (1, 0, 0) pixel and a brown one.
constexpr int32_t kLeft = 20;
constexpr int32_t kTop = 10;
constexpr COLORREF kBackground = RGB(0, 0xC0, 0);
constexpr COLORREF kNearBlack = RGB(1, 0, 0);
constexpr COLORREF kBrown = RGB(0x80, 0x40, 0x20);
constexpr COLORREF kNeedle = RGB(255, 0, 255);

class KnobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HBITMAP face = MakeBitmap(34, 30, RGB(0, 0, 0), {{2, 2, kNearBlack}, {4, 2, kBrown}});
    ASSERT_TRUE(knob.SetupAt(kLeft, kTop, nullptr, kNeedle, face, nullptr, nullptr, nullptr,
                             nullptr, nullptr, owner.Get(), canvas.Dc()));
  }
  COLORREF Pixel(int32_t x, int32_t y) const { return canvas.At(kLeft + x, kTop + y); }

  HiddenWindow owner{100, 100, 300, 200};
  Canvas canvas{300, 200, kBackground};
  RotaryKnob knob;
};

TEST_F(KnobTest, StateTable) {
  constexpr WPARAM kDown = MK_LBUTTON;
  constexpr UINT kTurned = WM_KNOB_CHANGED;
  struct Step {
    UINT message;
    int32_t x, y;
    WPARAM buttons;
    int32_t enabled, value, state;
    bool captured;
    UINT posted;
  };
  // The knob is (20, 10, 53, 39) and starts at 50; drags start at (25, 15).
  const Step steps[] = {
      {WM_MOUSEMOVE, 25, 15, 0, 1, 50, kHover, true, 0},
      {WM_LBUTTONDOWN, 25, 15, kDown, 1, 50, kPressed, true, WM_CONTROL_PRESSED},
      {WM_MOUSEMOVE, 25, 22, kDown, 1, 50, kPressed, true, 0},
      {WM_MOUSEMOVE, 55, 15, kDown, 1, 80, kPressed, true, kTurned},
      {WM_MOUSEMOVE, 55, 15, kDown, 1, 100, kPressed, true, kTurned},
      {WM_MOUSEMOVE, 35, 12, kDown, 1, 100, kPressed, true, kTurned},
      // Left of the window: read as unsigned, x would turn the knob up.
      {WM_MOUSEMOVE, -475, 15, kDown, 1, 0, kPressed, true, kTurned},
      // The button-up was lost: a move without the button ends the drag.
      {WM_MOUSEMOVE, 35, 15, 0, 1, 0, kHover, true, WM_CONTROL_CLICKED},
      {WM_MOUSEMOVE, 44, 15, kDown, 1, 0, kHover, true, 0},
      {WM_LBUTTONDOWN, 25, 15, kDown, 1, 0, kPressed, true, WM_CONTROL_PRESSED},
      {WM_LBUTTONUP, 200, 150, 0, 1, 0, kNormal, false, WM_CONTROL_CLICKED},
      // Disabled: no press and no hover, but a hover already there stays.
      {WM_LBUTTONDOWN, 25, 15, kDown, 0, 0, kNormal, false, 0},
      {WM_MOUSEMOVE, 25, 15, 0, 0, 0, kNormal, false, 0},
      {WM_MOUSEMOVE, 26, 15, 0, 1, 0, kHover, true, 0},
      {WM_MOUSEMOVE, 27, 15, 0, 0, 0, kHover, true, 0},
      {WM_MOUSEMOVE, 65535, 15, 0, 0, 0, kNormal, false, 0},
      {WM_LBUTTONDOWN, 65535, 15, kDown, 1, 0, kNormal, false, 0},
  };
  knob.SetPosition(50);
  TakeNotifications(owner.Get());
  POINT anchor{25, 15};
  ClientToScreen(owner.Get(), &anchor);
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << step.message << " at " << step.x << "," << step.y);
    knob.enabled = step.enabled;
    const bool movable = PutPointer(owner.Get(), 0, 0);
    const LPARAM where = MouseAt(step.x, step.y);
    knob.HandleMessage(owner.Get(), step.message, step.buttons, where);
    EXPECT_EQ(knob.Value(), step.value);
    EXPECT_EQ(knob.State(), step.state);
    EXPECT_EQ(GetCapture() == owner.Get(), step.captured);
    EXPECT_EQ(TakeNotifications(owner.Get()), Posted(step.posted, knob.id, where));
    // Each turn puts the pointer back where the drag began.
    POINT pointer{};
    if (movable && step.posted == kTurned && GetCursorPos(&pointer) != FALSE) {
      EXPECT_TRUE(pointer.x == anchor.x && pointer.y == anchor.y);
    }
  }
}

TEST_F(KnobTest, SetPositionClampsRedrawsAndPostsOnlyOnAChange) {
  struct Case {
    int32_t from, v, value;
    bool posted;
  };
  for (const Case& c :
       {Case{50, 150, 100, true}, Case{100, 100, 100, false}, Case{30, -5, 0, true}}) {
    knob.SetPosition(c.from);
    TakeNotifications(owner.Get());
    SetPixel(canvas.Dc(), kLeft + 2, kTop + 2, kBackground);
    knob.SetPosition(c.v);
    EXPECT_EQ(knob.Value(), c.value) << c.v;
    EXPECT_EQ(TakeNotifications(owner.Get()), Posted(c.posted ? WM_KNOB_SET : 0, knob.id, 0))
        << c.v;
    EXPECT_EQ(Pixel(2, 2), c.posted ? kNearBlack : kBackground) << "redrawn? " << c.v;
  }
  RotaryKnob unset;
  unset.SetPosition(70);
  EXPECT_EQ(unset.Value(), 70);
  MSG msg;
  // A post to no window would land in this thread's queue.
  EXPECT_FALSE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
}

TEST_F(KnobTest, NeedleEnds) {
  struct Case {
    int32_t value;
    POINT centre;
    int32_t radius;
    POINT end;
    POINT beyond;  // three pixels further along the needle
  };
  // The long needles show an angle a few degrees off.
  const Case cases[] = {
      {0, {16, 17}, 10, {9, 24}, {6, 27}},     {50, {16, 17}, 10, {16, 7}, {16, 4}},
      {100, {16, 17}, 10, {23, 24}, {26, 27}}, {0, {33, 0}, 36, {8, 25}, {5, 28}},
      {100, {0, 0}, 36, {25, 25}, {28, 28}},
  };
  for (const Case& c : cases) {
    knob.needleCentre = c.centre;
    knob.radius = c.radius;
    knob.SetPosition(c.value);
    knob.Draw();
    EXPECT_EQ(Pixel(c.end.x, c.end.y), kNeedle) << c.value << " r " << c.radius;
    EXPECT_EQ(Pixel(c.beyond.x, c.beyond.y), kBackground) << c.value << " r " << c.radius;
  }
}

TEST_F(KnobTest, BlackIsSeeThroughAndADisabledKnobIsBackgroundOrFace) {
  struct Case {
    int32_t enabled;
    POINT at;
    COLORREF shown;
  };
  const Case cases[] = {
      {1, {0, 0}, kBackground}, {1, {2, 2}, kNearBlack},      {1, {4, 2}, kBrown},
      {0, {0, 0}, kBackground}, {0, {2, 2}, RGB(1, 0xC0, 0)}, {0, {4, 2}, RGB(0x80, 0xC0, 0x20)},
      {1, {2, 2}, kNearBlack},  // enabled again: the masked picture is back
  };
  for (const Case& c : cases) {
    knob.enabled = c.enabled;
    knob.Draw();
    EXPECT_EQ(Pixel(c.at.x, c.at.y), c.shown) << c.enabled << " at " << c.at.x << "," << c.at.y;
  }
  // Drawn into a given context at the bounds, over a newly taken background.
  const COLORREF blue = RGB(0x30, 0x60, 0x90);
  Canvas skin(300, 200, blue);
  Canvas other(300, 200, RGB(9, 9, 9));
  knob.CaptureBackground(skin.Dc());
  knob.Draw(other.Dc());
  EXPECT_EQ(other.At(kLeft, kTop), blue);
  EXPECT_EQ(other.At(kLeft + 2, kTop + 2), kNearBlack);
  EXPECT_EQ(other.At(kLeft - 1, kTop), RGB(9, 9, 9));
}

}  // namespace
}  // namespace mimicore::testing
