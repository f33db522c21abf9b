// The rotary knob: drags, program-set values, its notifications and its
// composed picture, read back pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "controls_support.h"
#include "ui/controls/rotary_knob_win.h"

namespace mimicore {
namespace {

using testing::Canvas;
using testing::HiddenWindow;
using testing::MakeBitmap;
using testing::Notification;
using testing::TakeNotifications;

LPARAM At(int32_t x, int32_t y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// A 34 x 30 knob at (20, 10) over a green background. Its face is pure
// black (see-through) but for a (1, 0, 0) pixel and a brown one.
constexpr int32_t kLeft = 20;
constexpr int32_t kTop = 10;
constexpr COLORREF kBackground = RGB(0, 0xC0, 0);
constexpr COLORREF kNearBlack = RGB(1, 0, 0);
constexpr COLORREF kBrown = RGB(0x80, 0x40, 0x20);
constexpr COLORREF kNeedle = RGB(255, 0, 255);
constexpr POINT kAnchor{30, 20};

class KnobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(owner.Get(), nullptr);
    ReleaseCapture();
    ASSERT_TRUE(Make(knob));
    TakeNotifications(owner.Get());
  }
  void TearDown() override { ReleaseCapture(); }

  bool Make(RotaryKnob& k) {
    HBITMAP face = MakeBitmap(34, 30, RGB(0, 0, 0), {{2, 2, kNearBlack}, {4, 2, kBrown}});
    return k.SetupAt(kLeft, kTop, nullptr, kNeedle, face, nullptr, nullptr, nullptr, nullptr,
                     nullptr, owner.Get(), canvas.Dc());
  }
  COLORREF Pixel(int32_t x, int32_t y) const { return canvas.At(kLeft + x, kTop + y); }
  void Press() {
    knob.HandleMessage(owner.Get(), WM_LBUTTONDOWN, MK_LBUTTON, At(kAnchor.x, kAnchor.y));
    TakeNotifications(owner.Get());
  }

  HiddenWindow owner{100, 100, 300, 200};
  Canvas canvas{300, 200, kBackground};
  RotaryKnob knob;
};

TEST_F(KnobTest, Drags) {
  struct Move {
    int32_t dx, dy;
    WPARAM buttons = MK_LBUTTON;
  };
  struct Case {
    const char* name;
    int32_t from;
    std::vector<Move> moves;
    int32_t value;
    int32_t state;
  };
  const Case cases[] = {
      {"+30 from 80", 80, {{30, 0}}, 100, kPressed},
      {"-500 from 50", 50, {{-500, 0}}, 0, kPressed},
      {"vertical only", 50, {{0, 7}, {0, -4}}, 50, kPressed},
      {"each x move relative to the anchor", 40, {{5, 0}, {5, 3}, {-3, 0}}, 47, kPressed},
      {"at the limit still notifies", 100, {{10, 0}}, 100, kPressed},
      {"past the window's left edge turns down", 80, {{-50, 0}}, 30, kPressed},
      {"a move without the button ends the drag", 60, {{10, 0, 0}}, 60, kHover},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    knob.SetPosition(c.from);
    Press();
    ASSERT_EQ(knob.State(), kPressed);
    std::vector<Notification> expected;
    for (const Move& m : c.moves) {
      const LPARAM where = At(kAnchor.x + m.dx, kAnchor.y + m.dy);
      knob.HandleMessage(owner.Get(), WM_MOUSEMOVE, m.buttons, where);
      if (m.buttons == 0) {
        expected.push_back({WM_CONTROL_CLICKED, knob.id, where});
      } else if (m.dx != 0) {
        expected.push_back({WM_KNOB_CHANGED, knob.id, where});
      }
    }
    EXPECT_EQ(knob.Value(), c.value);
    // One WM_KNOB_CHANGED for every move that changes x, none for the rest.
    EXPECT_EQ(TakeNotifications(owner.Get()), expected);
    EXPECT_EQ(knob.State(), c.state);
    // After a lost button-up further moves turn nothing.
    knob.HandleMessage(owner.Get(), WM_MOUSEMOVE, MK_LBUTTON, At(kAnchor.x + 9, kAnchor.y));
    if (c.state != kPressed) {
      EXPECT_EQ(knob.Value(), c.value);
    }
    knob.HandleMessage(owner.Get(), WM_LBUTTONUP, 0, At(kAnchor.x, kAnchor.y));
    TakeNotifications(owner.Get());
  }
}

TEST_F(KnobTest, ADragHoldsThePointerOnTheAnchor) {
  if (!testing::PutPointer(owner.Get(), kAnchor.x, kAnchor.y)) {
    GTEST_SKIP() << "the pointer cannot be moved on this display";
  }
  Press();
  testing::PutPointer(owner.Get(), kAnchor.x + 12, kAnchor.y);
  knob.HandleMessage(owner.Get(), WM_MOUSEMOVE, MK_LBUTTON, At(kAnchor.x + 12, kAnchor.y));
  POINT pointer{};
  GetCursorPos(&pointer);
  POINT anchor = kAnchor;
  ClientToScreen(owner.Get(), &anchor);
  EXPECT_EQ(pointer.x, anchor.x);
  EXPECT_EQ(pointer.y, anchor.y);
}

TEST_F(KnobTest, PressReleaseAndTheDisabledKnob) {
  struct Step {
    UINT message;
    int32_t x, y;
    int32_t enabled;
    int32_t state;
    bool captured;
    std::vector<UINT> posted;
  };
  const std::vector<Step> steps = {
      {WM_MOUSEMOVE, 25, 15, 1, kHover, true, {}},
      {WM_LBUTTONDOWN, 25, 15, 1, kPressed, true, {WM_CONTROL_PRESSED}},
      {WM_LBUTTONUP, 200, 150, 1, kNormal, false, {WM_CONTROL_CLICKED}},
      {WM_LBUTTONDOWN, 25, 15, 0, kNormal, false, {}},
      {WM_MOUSEMOVE, 25, 15, 0, kNormal, false, {}},
      {WM_MOUSEMOVE, 26, 15, 1, kHover, true, {}},
      {WM_MOUSEMOVE, 27, 15, 0, kHover, true, {}},  // disabled while over it: stays
      {WM_MOUSEMOVE, 65535, 15, 0, kNormal, false, {}},
      {WM_LBUTTONDOWN, 65535, 15, 1, kNormal, false, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << step.message << " at " << step.x << "," << step.y);
    knob.enabled = step.enabled;
    const LPARAM where = At(step.x, step.y);
    knob.HandleMessage(owner.Get(), step.message, MK_LBUTTON, where);
    EXPECT_EQ(knob.State(), step.state);
    EXPECT_EQ(GetCapture() == owner.Get(), step.captured);
    std::vector<Notification> expected;
    for (UINT m : step.posted) {
      expected.push_back({m, knob.id, where});
    }
    EXPECT_EQ(TakeNotifications(owner.Get()), expected);
  }
}

TEST_F(KnobTest, SetPositionClampsRedrawsAndPostsOnlyOnAChange) {
  struct Case {
    int32_t from, v, value;
    bool posted;
  };
  const Case cases[] = {
      {50, 150, 100, true},
      {100, 100, 100, false},
      {30, 31, 31, true},
      {30, -5, 0, true},
  };
  for (const Case& c : cases) {
    knob.SetPosition(c.from);
    TakeNotifications(owner.Get());
    SetPixel(canvas.Dc(), kLeft + 2, kTop + 2, kBackground);
    knob.SetPosition(c.v);
    EXPECT_EQ(knob.Value(), c.value) << c.v;
    const std::vector<Notification> posted{{WM_KNOB_SET, knob.id, 0}};
    EXPECT_EQ(TakeNotifications(owner.Get()), c.posted ? posted : std::vector<Notification>{})
        << c.v;
    EXPECT_EQ(Pixel(2, 2), c.posted ? kNearBlack : kBackground) << "redrawn? " << c.v;
  }
  RotaryKnob unset;
  unset.SetPosition(70);
  unset.Draw();
  EXPECT_EQ(unset.Value(), 70);
  MSG msg;
  // A post to no window would land in this thread's queue.
  EXPECT_FALSE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
}

TEST_F(KnobTest, NeedleEnds) {
  // Setup's own needle for the 34 x 30 face.
  EXPECT_EQ(knob.needleCentre.x, 16);
  EXPECT_EQ(knob.needleCentre.y, 14);
  EXPECT_EQ(knob.radius, 14);
  knob.needleCentre = {16, 17};
  knob.radius = 10;
  struct Case {
    int32_t value;
    POINT end;
    POINT beyond;  // three pixels further along the needle
  };
  const Case cases[] = {
      {0, {9, 24}, {6, 27}},
      {50, {16, 7}, {16, 4}},
      {100, {23, 24}, {26, 27}},
  };
  for (const Case& c : cases) {
    knob.SetPosition(c.value);
    knob.Draw();
    EXPECT_EQ(Pixel(c.end.x, c.end.y), kNeedle) << c.value;
    EXPECT_EQ(Pixel(c.beyond.x, c.beyond.y), kBackground) << c.value;
    for (const Case& other : cases) {
      if (other.value != c.value) {
        EXPECT_EQ(Pixel(other.end.x, other.end.y), kBackground) << c.value;
      }
    }
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
  // Drawn into a given context, at the bounds.
  Canvas other(300, 200, RGB(9, 9, 9));
  knob.Draw(other.Dc());
  EXPECT_EQ(other.At(kLeft + 2, kTop + 2), kNearBlack);
  EXPECT_EQ(other.At(kLeft, kTop), kBackground);
  EXPECT_EQ(other.At(kLeft - 1, kTop), RGB(9, 9, 9));
  // A new background shows through from then on.
  Canvas skin(300, 200, RGB(0x30, 0x60, 0x90));
  knob.CaptureBackground(skin.Dc());
  knob.Draw();
  EXPECT_EQ(Pixel(0, 0), RGB(0x30, 0x60, 0x90));
  EXPECT_EQ(Pixel(2, 2), kNearBlack);
}

TEST_F(KnobTest, SetupTakesTheFacesAlsoWhenItFailsAndASecondSetupLeaksNothing) {
  const GdiLiveCounts before = LiveGdiCounts();
  {
    RotaryKnob k;
    HBITMAP hover = MakeBitmap(34, 30, kBrown);
    EXPECT_FALSE(k.SetupAt(0, 0, nullptr, kNeedle, nullptr, nullptr, hover, nullptr, nullptr,
                           nullptr, owner.Get(), canvas.Dc()));
    EXPECT_EQ(GetObjectType(hover), 0U) << "the hover face was not deleted";
    EXPECT_EQ(LiveGdiCounts(), before);
    // Empty bounds would give a 1 x 1 monochrome surface, not a knob.
    EXPECT_FALSE(k.Setup(RECT{10, 10, 9, 9}, nullptr, kNeedle, MakeBitmap(4, 4, kBrown), nullptr,
                         nullptr, nullptr, nullptr, nullptr, owner.Get(), canvas.Dc()));
    EXPECT_EQ(LiveGdiCounts(), before);
    k.Draw();

    ASSERT_TRUE(Make(k));
    const GdiLiveCounts once = LiveGdiCounts();
    ASSERT_TRUE(Make(k));
    EXPECT_EQ(LiveGdiCounts(), once);
  }
  EXPECT_EQ(LiveGdiCounts(), before);
}

}  // namespace
}  // namespace mimicore
