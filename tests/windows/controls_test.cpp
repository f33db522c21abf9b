// The control base, the control list and the bitmap button, with real GDI
// and a real (hidden) owner window.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controls_support.h"
#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/control_win.h"

namespace mimicore {
namespace {

using testing::Canvas;
using testing::HiddenWindow;
using testing::MakeBitmap;
using testing::Notification;
using testing::TakeNotifications;

LPARAM At(int32_t x, int32_t y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// A control that notes each message it is offered and claims the pointer
// as told.
struct Probe : Control {
  Probe(std::vector<int>* log, int name, bool claims) : log(log), name(name), claims(claims) {}
  bool HandleMessage(HWND, UINT, WPARAM, LPARAM) override {
    log->push_back(name);
    return claims;
  }
  std::vector<int>* log;
  int name;
  bool claims;
};

TEST(ControlList, GrowsByDoublingAndKeepsTheOrder) {
  std::vector<int> log;
  std::vector<std::unique_ptr<Probe>> probes;
  ControlList list;
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_FALSE(list.Add(nullptr));
  for (int i = 0; i < 33; ++i) {
    probes.push_back(std::make_unique<Probe>(&log, i, false));
    ASSERT_TRUE(list.Add(probes.back().get()));
    const int expected = i < 16 ? 16 : i < 32 ? 32 : 64;
    ASSERT_EQ(list.Capacity(), expected) << "after " << i + 1;
  }
  EXPECT_EQ(list.Count(), 33);
  for (int i = 0; i < 33; ++i) {
    EXPECT_EQ(list.At(i), probes[i].get());
  }
  EXPECT_EQ(list.At(33), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);
  EXPECT_NE(probes[0]->id, probes[1]->id);
  EXPECT_EQ(probes[0]->id, reinterpret_cast<WPARAM>(static_cast<Control*>(probes[0].get())));
}

TEST(ControlList, DispatchStopsAtTheFirstClaimButPaintReachesEveryControl) {
  struct Case {
    std::vector<bool> claims;
    UINT message;
    std::vector<int> offered;
    bool result;
  };
  const Case cases[] = {
      {{false, true, true}, WM_MOUSEMOVE, {0, 1}, true},
      {{true, true}, WM_LBUTTONDOWN, {0}, true},
      {{false, false}, WM_MOUSEMOVE, {0, 1}, false},
      {{true, false, true}, WM_PAINT, {0, 1, 2}, true},
      {{false, false}, WM_PAINT, {0, 1}, false},
      {{}, WM_MOUSEMOVE, {}, false},
  };
  for (const Case& c : cases) {
    std::vector<int> log;
    std::vector<std::unique_ptr<Probe>> probes;
    ControlList list;
    for (size_t i = 0; i < c.claims.size(); ++i) {
      probes.push_back(std::make_unique<Probe>(&log, int(i), c.claims[i]));
      list.Add(probes.back().get());
    }
    EXPECT_EQ(list.Dispatch(nullptr, c.message, 0, 0), c.result) << c.message;
    EXPECT_EQ(log, c.offered) << c.message;
  }
}

TEST(Control, HitTestExcludesTheRightAndBottomEdgeAndUsesTheRegionWhenThereIsOne) {
  Control plain;
  plain.bounds = {10, 20, 30, 40};
  Control shaped;
  shaped.bounds = {10, 20, 30, 40};
  HRGN region = CreateRectRgn(10, 20, 15, 25);
  shaped.region = region;
  struct Case {
    int32_t x, y;
    bool plain, shaped;
  };
  const Case cases[] = {
      {10, 20, true, true},   {29, 39, true, false},     {30, 25, false, false},
      {15, 40, false, false}, {9, 25, false, false},     {14, 24, true, true},
      {15, 24, true, false},  {65535, 25, false, false}, {12, 65535, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plain.HitTest(c.x, c.y), c.plain) << c.x << "," << c.y;
    EXPECT_EQ(shaped.HitTest(c.x, c.y), c.shaped) << c.x << "," << c.y;
  }
  DeleteObject(region);
}

// The button tests: a 16 x 16 button at (20, 10), bounds (20, 10, 35, 25),
// red, green and blue for its three states.
constexpr COLORREF kNormalColour = RGB(200, 0, 0);
constexpr COLORREF kHoverColour = RGB(0, 200, 0);
constexpr COLORREF kPressedColour = RGB(0, 0, 200);
constexpr COLORREF kPaper = RGB(240, 240, 240);

class ButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(owner.Get(), nullptr);
    ReleaseCapture();
  }
  void TearDown() override { ReleaseCapture(); }
  bool Make(BitmapButton& button, int32_t x, int32_t y, HRGN region = nullptr) {
    return button.SetupAt(x, y, region, MakeBitmap(16, 16, kNormalColour), nullptr,
                          MakeBitmap(16, 16, kHoverColour), nullptr,
                          MakeBitmap(16, 16, kPressedColour), nullptr, owner.Get(), canvas.Dc());
  }
  bool Captured() const { return GetCapture() == owner.Get(); }

  HiddenWindow owner{100, 100, 300, 200};
  Canvas canvas{300, 200, kPaper};
};

TEST_F(ButtonTest, SetupAtTakesTheBoundsFromTheBitmapAndDrawsAllOfIt) {
  BitmapButton button;
  ASSERT_TRUE(Make(button, 245, 40));
  EXPECT_EQ(button.bounds.left, 245);
  EXPECT_EQ(button.bounds.top, 40);
  EXPECT_EQ(button.bounds.right, 260);
  EXPECT_EQ(button.bounds.bottom, 55);
  button.Draw();
  EXPECT_EQ(canvas.At(245, 40), kNormalColour);
  EXPECT_EQ(canvas.At(260, 55), kNormalColour);
  EXPECT_EQ(canvas.At(261, 55), kPaper);
  EXPECT_EQ(canvas.At(260, 56), kPaper);
  EXPECT_EQ(canvas.At(244, 40), kPaper);
  EXPECT_TRUE(button.HitTest(259, 54));
  EXPECT_FALSE(button.HitTest(260, 54));
}

TEST_F(ButtonTest, StateTable) {
  struct Step {
    UINT message;
    int32_t x, y;
    int32_t state;
    bool captured;
    std::vector<UINT> posted;
  };
  struct Sequence {
    const char* name;
    int32_t left;
    std::vector<Step> steps;
  };
  const Sequence sequences[] = {
      {"press inside, release outside",
       20,
       {{WM_MOUSEMOVE, 25, 15, kHover, true, {}},
        {WM_LBUTTONDOWN, 25, 15, kPressed, true, {WM_CONTROL_PRESSED}},
        {WM_MOUSEMOVE, 100, 100, kPressed, true, {}},
        {WM_LBUTTONUP, 100, 100, kNormal, false, {WM_CONTROL_CLICKED}}}},
      {"press and release inside, then leave",
       20,
       {{WM_LBUTTONDOWN, 25, 15, kPressed, false, {WM_CONTROL_PRESSED}},
        {WM_LBUTTONUP, 26, 16, kHover, true, {WM_CONTROL_CLICKED}},
        {WM_MOUSEMOVE, 36, 16, kNormal, false, {}},
        {WM_LBUTTONUP, 25, 15, kNormal, false, {}}}},
      {"the right and bottom edges",
       20,
       {{WM_MOUSEMOVE, 35, 15, kNormal, false, {}},
        {WM_MOUSEMOVE, 34, 24, kHover, true, {}},
        {WM_MOUSEMOVE, 25, 25, kNormal, false, {}},
        {WM_MOUSEMOVE, 20, 10, kHover, true, {}}}},
      // Were x read as signed, 65535 would be -1 and inside this button.
      {"a point left of the window under capture",
       -5,
       {{WM_MOUSEMOVE, 2, 15, kHover, true, {}},
        {WM_MOUSEMOVE, 65535, 15, kNormal, false, {}},
        {WM_LBUTTONDOWN, 65535, 15, kNormal, false, {}},
        {WM_LBUTTONUP, 65535, 15, kNormal, false, {}}}},
  };
  const COLORREF colours[] = {0, kNormalColour, kHoverColour, kPressedColour};
  for (const Sequence& sequence : sequences) {
    SCOPED_TRACE(sequence.name);
    BitmapButton button;
    ASSERT_TRUE(Make(button, sequence.left, 10));
    for (const Step& step : sequence.steps) {
      const LPARAM where = At(step.x, step.y);
      button.HandleMessage(owner.Get(), step.message, 0, where);
      SCOPED_TRACE(::testing::Message() << step.message << " at " << step.x << "," << step.y);
      EXPECT_EQ(button.State(), step.state);
      EXPECT_EQ(Captured(), step.captured);
      std::vector<Notification> expected;
      for (UINT m : step.posted) {
        expected.push_back({m, button.id, where});
      }
      EXPECT_EQ(TakeNotifications(owner.Get()), expected);
      button.Draw();
      EXPECT_EQ(canvas.At(button.bounds.right, 10), colours[step.state]);
      EXPECT_EQ(canvas.At(button.bounds.right, 25), colours[step.state]);
    }
  }
}

TEST_F(ButtonTest, ASecondMoveInsideWhileHoverDoesNotRedraw) {
  BitmapButton button;
  ASSERT_TRUE(Make(button, 20, 10));
  button.HandleMessage(owner.Get(), WM_MOUSEMOVE, 0, At(25, 15));
  ASSERT_EQ(canvas.At(20, 10), kHoverColour);
  SetPixel(canvas.Dc(), 20, 10, kPaper);
  button.HandleMessage(owner.Get(), WM_MOUSEMOVE, 0, At(26, 16));
  EXPECT_EQ(canvas.At(20, 10), kPaper);
  EXPECT_EQ(button.State(), kHover);
}

TEST_F(ButtonTest, ARegionShapedButtonIgnoresPressesOutsideItsRegionButDrawsItsRectangle) {
  HRGN region = CreateRectRgn(20, 10, 28, 18);
  {
    BitmapButton button;
    ASSERT_TRUE(Make(button, 20, 10, region));
    button.HandleMessage(owner.Get(), WM_LBUTTONDOWN, 0, At(30, 20));
    EXPECT_EQ(button.State(), kNormal);
    EXPECT_TRUE(TakeNotifications(owner.Get()).empty());
    button.HandleMessage(owner.Get(), WM_PAINT, 0, 0);
    EXPECT_EQ(canvas.At(35, 25), kNormalColour);
    button.HandleMessage(owner.Get(), WM_LBUTTONDOWN, 0, At(22, 12));
    EXPECT_EQ(button.State(), kPressed);
    EXPECT_EQ(TakeNotifications(owner.Get()).size(), 1U);
  }
  DeleteObject(region);
}

TEST_F(ButtonTest, HandleMessageTellsWhetherThePointerIsOverTheButton) {
  BitmapButton button;
  ASSERT_TRUE(Make(button, 20, 10));
  struct Case {
    int32_t x, y;
    bool over;
  };
  for (const Case& c : {Case{25, 15, true}, Case{35, 15, false}, Case{-3, 15, false}}) {
    if (!testing::PutPointer(owner.Get(), c.x, c.y)) {
      GTEST_SKIP() << "the pointer cannot be moved on this display";
    }
    // The answer comes from the pointer, not from the message's point.
    EXPECT_EQ(button.HandleMessage(owner.Get(), WM_TIMER, 0, At(25, 15)), c.over) << c.x;
  }
}

TEST_F(ButtonTest, SetupTakesTheBitmapsAlsoWhenItFailsAndASecondSetupLeaksNothing) {
  const GdiLiveCounts before = LiveGdiCounts();
  {
    BitmapButton button;
    HBITMAP hover = MakeBitmap(16, 16, kHoverColour);
    EXPECT_FALSE(button.SetupAt(0, 0, nullptr, nullptr, nullptr, hover, nullptr, nullptr, nullptr,
                                owner.Get(), canvas.Dc()));
    EXPECT_EQ(GetObjectType(hover), 0U) << "the hover bitmap was not deleted";
    EXPECT_EQ(LiveGdiCounts(), before);
    button.Draw();  // nothing to draw with, and no fault
    EXPECT_EQ(canvas.At(0, 0), kPaper);

    ASSERT_TRUE(Make(button, 20, 10));
    const GdiLiveCounts once = LiveGdiCounts();
    ASSERT_TRUE(Make(button, 40, 10));
    EXPECT_EQ(LiveGdiCounts(), once);
    // One handle for every state is owned once.
    HBITMAP same = MakeBitmap(16, 16, kNormalColour);
    ASSERT_TRUE(button.SetupAt(0, 0, nullptr, same, nullptr, same, nullptr, same, nullptr,
                               owner.Get(), canvas.Dc()));
  }
  EXPECT_EQ(LiveGdiCounts(), before);
}

}  // namespace
}  // namespace mimicore
