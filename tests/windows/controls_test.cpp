// The control list, the bitmap button's hit test (every control's), and
// what every control gives back.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gdi_support.h"
#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/control_win.h"
#include "ui/controls/rotary_knob_win.h"
#include "ui/controls/trackbar_skin_win.h"

namespace mimicore::testing {
namespace {

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

TEST(ControlList, GrowsByDoublingKeepsTheOrderAndDispatchStopsAtTheFirstClaimButForPaint) {
  std::vector<int> log;
  std::vector<int> order;
  std::vector<std::unique_ptr<Probe>> probes;
  ControlList list;
  EXPECT_FALSE(list.Add(nullptr));
  for (int i = 0; i < 33; ++i) {
    probes.push_back(std::make_unique<Probe>(&log, i, false));
    ASSERT_TRUE(list.Add(probes.back().get()));
    ASSERT_EQ(list.Capacity(), i < 16 ? 16 : i < 32 ? 32 : 64) << "after " << i + 1;
    order.push_back(i);
  }
  EXPECT_FALSE(list.Dispatch(nullptr, WM_MOUSEMOVE, 0, 0));
  EXPECT_EQ(log, order);
  probes[1]->claims = probes[2]->claims = true;
  log.clear();
  EXPECT_TRUE(list.Dispatch(nullptr, WM_LBUTTONDOWN, 0, 0));
  EXPECT_EQ(log, (std::vector<int>{0, 1}));
  log.clear();
  EXPECT_TRUE(list.Dispatch(nullptr, WM_PAINT, 0, 0));
  EXPECT_EQ(log, order);
}

// 16 x 16 buttons, red, green and blue for their three states.
constexpr COLORREF kColours[] = {0, RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200)};
constexpr COLORREF kPaper = RGB(240, 240, 240);

class ButtonTest : public ::testing::Test {
 protected:
  bool Make(BitmapButton& button, int32_t x, HRGN region = nullptr) {
    return button.SetupAt(x, 10, region, MakeBitmap(16, 16, kColours[kNormal]), nullptr,
                          MakeBitmap(16, 16, kColours[kHover]), nullptr,
                          MakeBitmap(16, 16, kColours[kPressed]), nullptr, owner.Get(),
                          canvas.Dc());
  }

  HiddenWindow owner{100, 100, 300, 200};
  Canvas canvas{300, 200, kPaper};
};

TEST_F(ButtonTest, StateTable) {
  // The buttons' bounds are (20, 10, 35, 25), (-5, 10, 10, 25), and the
  // first again but hit only in its region, (20, 10) to (27, 17).
  enum Which { kPlain, kLeftOfTheWindow, kShaped };
  struct Step {
    Which button;
    UINT message;
    int32_t x, y;
    int32_t state;
    bool captured;
    UINT posted;
  };
  const Step steps[] = {
      // Press inside, release outside.
      {kPlain, WM_MOUSEMOVE, 25, 15, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 26, 16, kHover, true, 0},
      {kPlain, WM_LBUTTONDOWN, 25, 15, kPressed, true, WM_CONTROL_PRESSED},
      {kPlain, WM_MOUSEMOVE, 100, 100, kPressed, true, 0},
      {kPlain, WM_LBUTTONUP, 100, 100, kNormal, false, WM_CONTROL_CLICKED},
      // Press and release inside, then leave.
      {kPlain, WM_LBUTTONDOWN, 25, 15, kPressed, false, WM_CONTROL_PRESSED},
      {kPlain, WM_LBUTTONUP, 26, 16, kHover, true, WM_CONTROL_CLICKED},
      {kPlain, WM_MOUSEMOVE, 36, 16, kNormal, false, 0},
      {kPlain, WM_LBUTTONUP, 25, 15, kNormal, false, 0},
      // The right and bottom edges are outside, the left and top inside.
      {kPlain, WM_MOUSEMOVE, 35, 15, kNormal, false, 0},
      {kPlain, WM_MOUSEMOVE, 34, 24, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 25, 25, kNormal, false, 0},
      {kPlain, WM_MOUSEMOVE, 20, 10, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 19, 10, kNormal, false, 0},
      // A point left of the window under capture: were x read as signed,
      // 65535 would be -1 and inside this button.
      {kLeftOfTheWindow, WM_MOUSEMOVE, 2, 15, kHover, true, 0},
      {kLeftOfTheWindow, WM_MOUSEMOVE, 65535, 15, kNormal, false, 0},
      {kLeftOfTheWindow, WM_LBUTTONDOWN, 65535, 15, kNormal, false, 0},
      // Outside the region but inside the rectangle, which is drawn whole.
      {kShaped, WM_LBUTTONDOWN, 30, 20, kNormal, false, 0},
      {kShaped, WM_LBUTTONDOWN, 22, 12, kPressed, false, WM_CONTROL_PRESSED},
  };
  GdiObject region(CreateRectRgn(20, 10, 28, 18));
  BitmapButton buttons[3];
  ASSERT_TRUE(Make(buttons[kPlain], 20) && Make(buttons[kLeftOfTheWindow], -5) &&
              Make(buttons[kShaped], 20, region.Region()));
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << step.message << " at " << step.x << "," << step.y);
    BitmapButton& button = buttons[step.button];
    // The bottom-right pixel is drawn, though it does not hit.
    const POINT corner{button.bounds.right, button.bounds.bottom};
    SetPixel(canvas.Dc(), corner.x, corner.y, kPaper);
    const int32_t before = button.State();
    const LPARAM where = MouseAt(step.x, step.y);
    button.HandleMessage(owner.Get(), step.message, 0, where);
    EXPECT_EQ(button.State(), step.state);
    EXPECT_EQ(GetCapture() == owner.Get(), step.captured);
    EXPECT_EQ(TakeNotifications(owner.Get()), Posted(step.posted, button.id, where));
    // Redrawn on every change of state, and only then.
    const COLORREF shown = before != step.state ? kColours[step.state] : kPaper;
    EXPECT_EQ(canvas.At(corner.x, corner.y), shown);
  }
}

TEST_F(ButtonTest, LeavingKeepsACaptureAnotherWindowTookMeanwhile) {
  HiddenWindow other{0, 0, 50, 50};
  BitmapButton button;
  ASSERT_TRUE(Make(button, 20));
  button.HandleMessage(owner.Get(), WM_MOUSEMOVE, 0, MouseAt(25, 15));
  ASSERT_EQ(GetCapture(), owner.Get());
  SetCapture(other.Get());
  button.HandleMessage(owner.Get(), WM_MOUSEMOVE, 0, MouseAt(100, 100));
  EXPECT_EQ(button.State(), kNormal);
  EXPECT_EQ(GetCapture(), other.Get());
}

TEST_F(ButtonTest, HandleMessageAnswersWhetherThePointerIsOverTheButton) {
  BitmapButton button;
  ASSERT_TRUE(Make(button, 20));
  for (const int32_t x : {25, 35, -3}) {
    if (!PutPointer(owner.Get(), x, 15)) {
      GTEST_SKIP() << "the pointer cannot be moved on this display";
    }
    // The answer comes from the pointer, not from the message's point.
    EXPECT_EQ(button.HandleMessage(owner.Get(), WM_TIMER, 0, MouseAt(25, 15)), x == 25) << x;
  }
}

// Setup owns what it is given also when it fails; a second setup and the
// destructors give back all that the first made.
TEST(Controls, EveryGdiObjectIsGivenBack) {
  HiddenWindow owner{0, 0, 100, 100};
  Canvas canvas{100, 100, kPaper};
  const GdiLiveCounts before = LiveGdiCounts();
  const HBITMAP refused[] = {MakeBitmap(16, 16, 0), MakeBitmap(16, 16, 0), MakeBitmap(4, 4, 0),
                             MakeBitmap(11, 19, 0), MakeBitmap(11, 19, 0)};
  HBITMAP same = MakeBitmap(16, 16, 0);
  {
    BitmapButton button;
    RotaryKnob knob;
    EXPECT_FALSE(button.SetupAt(0, 0, nullptr, nullptr, nullptr, refused[0], nullptr, nullptr,
                                nullptr, owner.Get(), canvas.Dc()));
    EXPECT_FALSE(knob.SetupAt(0, 0, nullptr, 0, nullptr, nullptr, refused[1], nullptr, nullptr,
                              nullptr, owner.Get(), canvas.Dc()));
    // Empty bounds would give a 1 x 1 monochrome surface, not a knob.
    EXPECT_FALSE(knob.Setup(RECT{10, 10, 9, 9}, nullptr, 0, refused[2], nullptr, nullptr, nullptr,
                            nullptr, nullptr, owner.Get(), canvas.Dc()));
    EXPECT_EQ(TrackbarSkin::Create(nullptr, refused[3], MakeBitmap(19, 11, 0), nullptr), nullptr);
    EXPECT_EQ(TrackbarSkin::Create(owner.Get(), refused[4], nullptr, nullptr), nullptr);
    for (HBITMAP bitmap : refused) {
      EXPECT_EQ(GetObjectType(bitmap), 0U);
    }
    EXPECT_EQ(LiveGdiCounts(), before);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(button.SetupAt(0, 0, nullptr, MakeBitmap(16, 16, 0), nullptr, nullptr, nullptr,
                                 nullptr, nullptr, owner.Get(), canvas.Dc()));
      ASSERT_TRUE(knob.SetupAt(0, 0, nullptr, 0, MakeBitmap(34, 30, 0), nullptr, nullptr, nullptr,
                               nullptr, nullptr, owner.Get(), canvas.Dc()));
    }
    // One handle for every state is owned once.
    ASSERT_TRUE(button.SetupAt(0, 0, nullptr, same, nullptr, same, nullptr, same, nullptr,
                               owner.Get(), canvas.Dc()));
    const auto skin = TrackbarSkin::Create(owner.Get(), MakeBitmap(11, 19, 0),
                                           MakeBitmap(19, 11, 0), canvas.Dc());
    ASSERT_NE(skin, nullptr);
  }
  EXPECT_EQ(LiveGdiCounts(), before);
  EXPECT_EQ(GetObjectType(same), 0U);
}

}  // namespace
}  // namespace mimicore::testing
