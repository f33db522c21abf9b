// The trackbar skin, driven by custom-draw notifications sent the way a
// trackbar sends them, with the test's own context as the drawing target.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "controls_support.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/controls/trackbar_skin_win.h"

namespace mimicore {
namespace {

using testing::Canvas;
using testing::HiddenWindow;
using testing::MakeBitmap;
using testing::Saw;

constexpr COLORREF kHorizontal = RGB(0x10, 0x80, 0x20);
constexpr COLORREF kVertical = RGB(0x20, 0x10, 0x80);
constexpr COLORREF kPaper = RGB(0x40, 0x00, 0x01);

// The skin of the parent: every pixel tells where it lies.
COLORREF SkinPixel(int32_t x, int32_t y) { return RGB(x & 0xFF, y & 0xFF, 0x55); }

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    ASSERT_NE(parent.Get(), nullptr);
    background.Paint(SkinPixel);
    skin = TrackbarSkin::Create(parent.Get(), MakeBitmap(11, 19, kHorizontal),
                                MakeBitmap(19, 11, kVertical), background.Dc());
    ASSERT_NE(skin, nullptr);
    testing::SeenMessages().clear();
  }
  void TearDown() override {
    skin.reset();
    for (HWND child : {horizontal, vertical, other}) {
      DestroyWindow(child);
    }
  }

  HWND Child(const char* className, DWORD style, int32_t x, int32_t y, int32_t w, int32_t h) {
    return CreateWindowExA(0, className, "", WS_CHILD | style, x, y, w, h, parent.Get(), nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }
  LRESULT Notify(HWND from, DWORD stage, DWORD_PTR item, RECT rc = {}) {
    NMCUSTOMDRAW draw{};
    draw.hdr.hwndFrom = from;
    draw.hdr.idFrom = 0;
    draw.hdr.code = NM_CUSTOMDRAW;
    draw.dwDrawStage = stage;
    draw.hdc = target.Dc();
    draw.rc = rc;
    draw.dwItemSpec = item;
    return SendMessageA(parent.Get(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
  }
  bool ReachedParent(UINT message) const { return Saw(parent.Get(), message); }

  HiddenWindow parent{50, 60, 300, 200};
  Canvas background{300, 200, 0};
  Canvas target{200, 100, kPaper};
  std::unique_ptr<TrackbarSkin> skin;
  HWND horizontal = Child(TRACKBAR_CLASSA, TBS_HORZ, 30, 40, 120, 30);
  HWND vertical = Child(TRACKBAR_CLASSA, TBS_VERT, 200, 20, 30, 120);
  HWND other = Child("BUTTON", BS_AUTOCHECKBOX, 10, 150, 80, 20);
};

TEST_F(SkinTest, ThumbsAreDrawnAtTheRectanglesOrigin) {
  struct Case {
    const char* name;
    bool vertical;
    bool disabled;
    COLORREF inside;
    SIZE size;
  };
  const COLORREF lightened = RGB(0x50, 0x80, 0x21);  // the thumb ORed over the paper
  const Case cases[] = {
      {"horizontal", false, false, kHorizontal, {11, 19}},
      {"vertical", true, false, kVertical, {19, 11}},
      {"disabled", false, true, lightened, {11, 19}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    target.Paint([](int32_t, int32_t) { return kPaper; });
    HWND trackbar = c.vertical ? vertical : horizontal;
    EnableWindow(trackbar, c.disabled ? FALSE : TRUE);
    EXPECT_EQ(Notify(trackbar, CDDS_ITEMPREPAINT, TBCD_THUMB, RECT{40, 2, 51, 21}),
              CDRF_SKIPDEFAULT);
    EXPECT_EQ(target.At(40, 2), c.inside);
    EXPECT_EQ(target.At(40 + c.size.cx - 1, 2 + c.size.cy - 1), c.inside);
    EXPECT_EQ(target.At(40 + c.size.cx, 2), kPaper);
    EXPECT_EQ(target.At(40, 2 + c.size.cy), kPaper);
    EXPECT_EQ(target.At(39, 2), kPaper);
    EnableWindow(trackbar, TRUE);
  }
  EXPECT_FALSE(ReachedParent(WM_NOTIFY));
}

TEST_F(SkinTest, TheChannelStagePaintsTheSkinBehindTheWholeTrackbar) {
  EXPECT_EQ(Notify(horizontal, CDDS_PREPAINT, 0), CDRF_NOTIFYITEMDRAW);
  EXPECT_EQ(Notify(horizontal, CDDS_ITEMPREPAINT, TBCD_CHANNEL, RECT{8, 10, 112, 14}),
            CDRF_SKIPDEFAULT);
  struct Case {
    int32_t x, y;
    COLORREF colour;
  };
  const Case cases[] = {
      {0, 0, SkinPixel(30, 40)},
      {119, 29, SkinPixel(149, 69)},
      {60, 12, SkinPixel(90, 52)},
      {120, 0, kPaper},
      {0, 30, kPaper},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(target.At(c.x, c.y), c.colour) << c.x << "," << c.y;
  }
  EXPECT_FALSE(ReachedParent(WM_NOTIFY));
}

TEST_F(SkinTest, WhatTheSkinDoesNotAnswerReachesThePreviousProcedure) {
  NMHDR plain{horizontal, 0, static_cast<UINT>(NM_CLICK)};
  struct Case {
    const char* name;
    std::function<LRESULT()> send;
  };
  const Case cases[] = {
      {"tick marks", [this] { return Notify(horizontal, CDDS_ITEMPREPAINT, TBCD_TICS); }},
      {"an unknown stage", [this] { return Notify(horizontal, CDDS_POSTPAINT, TBCD_THUMB); }},
      {"an unknown item", [this] { return Notify(horizontal, CDDS_ITEMPREPAINT, 77); }},
      {"a check box's custom draw",
       [this] {
         return Notify(other, CDDS_ITEMPREPAINT, TBCD_THUMB, {0, 0, 5, 5});
       }},
      {"a window that is not a child", [this] { return Notify(parent.Get(), CDDS_PREPAINT, 0); }},
      {"a null notification", [this] { return SendMessageA(parent.Get(), WM_NOTIFY, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::SeenMessages().clear();
    target.Paint([](int32_t, int32_t) { return kPaper; });
    EXPECT_EQ(c.send(), 0);
    EXPECT_TRUE(ReachedParent(WM_NOTIFY));
    EXPECT_EQ(target.At(0, 0), kPaper);
  }
  testing::SeenMessages().clear();
  SendMessageA(parent.Get(), WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&plain));
  ASSERT_TRUE(ReachedParent(WM_NOTIFY));
  EXPECT_EQ(testing::SeenMessages().back().wParam, 5U);
  EXPECT_EQ(testing::SeenMessages().back().lParam, reinterpret_cast<LPARAM>(&plain));

  EXPECT_EQ(SendMessageA(parent.Get(), testing::kProbeMessage, 1, 2), testing::kProbeAnswer);
  EXPECT_EQ(testing::SeenMessages().back().wParam, 1U);
  EXPECT_EQ(testing::SeenMessages().back().lParam, 2);

  testing::SeenMessages().clear();
  EXPECT_EQ(SendMessageA(parent.Get(), WM_CTLCOLORSTATIC, 0, 0),
            reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
  EXPECT_FALSE(ReachedParent(WM_CTLCOLORSTATIC));
}

LONG_PTR ProcedureOf(HWND window) { return GetWindowLongPtrA(window, GWLP_WNDPROC); }

TEST_F(SkinTest, TheDestructorPutsThePreviousProcedureBack) {
  const auto recording = reinterpret_cast<LONG_PTR>(&testing::RecordingProcedure);
  EXPECT_NE(ProcedureOf(parent.Get()), recording);
  // One skin per process: a second one is refused and its thumbs given back.
  HBITMAP thumb = MakeBitmap(11, 19, kHorizontal);
  EXPECT_EQ(TrackbarSkin::Create(parent.Get(), thumb, MakeBitmap(19, 11, kVertical), nullptr),
            nullptr);
  EXPECT_EQ(GetObjectType(thumb), 0U);
  skin.reset();
  EXPECT_EQ(ProcedureOf(parent.Get()), recording);
  SendMessageA(parent.Get(), WM_CTLCOLORSTATIC, 0, 0);
  EXPECT_TRUE(ReachedParent(WM_CTLCOLORSTATIC));
}

TEST_F(SkinTest, TheWindowGoingFirstGivesItsProcedureBackAndEndsTheSkinsUseOfIt) {
  HWND window = parent.Get();
  horizontal = vertical = other = nullptr;  // destroyed with their parent
  ASSERT_TRUE(DestroyWindow(window));
  parent.Forget();
  EXPECT_TRUE(Saw(window, WM_NCDESTROY));
  skin.reset();
  // A new skin can be made once the old one is gone.
  HiddenWindow again(0, 0, 50, 50);
  skin = TrackbarSkin::Create(again.Get(), MakeBitmap(11, 19, kHorizontal),
                              MakeBitmap(19, 11, kVertical), nullptr);
  EXPECT_NE(skin, nullptr);
  skin.reset();
}

TEST(Skin, CreateRefusesWhatIsNotThereAndLeaksNothing) {
  const GdiLiveCounts before = LiveGdiCounts();
  HiddenWindow window(0, 0, 50, 50);
  struct Case {
    const char* name;
    HWND window;
    bool horizontalThumb;
    bool verticalThumb;
  };
  const Case cases[] = {
      {"no window", nullptr, true, true},
      {"no horizontal thumb", window.Get(), false, true},
      {"no vertical thumb", window.Get(), true, false},
  };
  for (const Case& c : cases) {
    HBITMAP thumb = c.horizontalThumb ? MakeBitmap(11, 19, kHorizontal) : nullptr;
    EXPECT_EQ(
        TrackbarSkin::Create(c.window, thumb,
                             c.verticalThumb ? MakeBitmap(19, 11, kVertical) : nullptr, nullptr),
        nullptr)
        << c.name;
    if (thumb != nullptr) {
      EXPECT_EQ(GetObjectType(thumb), 0U) << c.name;
    }
    EXPECT_EQ(LiveGdiCounts(), before) << c.name;
  }
  // A made and deleted skin gives back all it took.
  EXPECT_NE(TrackbarSkin::Create(window.Get(), MakeBitmap(11, 19, kHorizontal),
                                 MakeBitmap(19, 11, kVertical), nullptr),
            nullptr);
  EXPECT_EQ(LiveGdiCounts(), before);
}

}  // namespace
}  // namespace mimicore
