#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>

#include "gdi_support.h"
#include "ui/controls/trackbar_skin_win.h"

namespace mimicore::testing {
namespace {

constexpr COLORREF kHorizontal = RGB(0x10, 0x80, 0x20);
constexpr COLORREF kVertical = RGB(0x20, 0x10, 0x80);
constexpr COLORREF kPaper = RGB(0x40, 0x00, 0x01);
// The parent's skin, marked where the horizontal trackbar's corners lie.
constexpr COLORREF kSkin = RGB(0x55, 0x55, 0x55);
constexpr COLORREF kTopLeft = RGB(1, 2, 3);
constexpr COLORREF kBottomRight = RGB(4, 5, 6);

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    ASSERT_NE(parent.Get(), nullptr);
    skin = TrackbarSkin::Create(parent.Get(), MakeBitmap(11, 19, kHorizontal),
                                MakeBitmap(19, 11, kVertical), background.Dc());
    ASSERT_NE(skin, nullptr);
    SeenMessages().clear();
  }

  HWND Child(const char* className, DWORD style, int32_t x, int32_t y, int32_t w, int32_t h) {
    return CreateWindowExA(0, className, "", WS_CHILD | style, x, y, w, h, parent.Get(), nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }
  // Custom draw of the rectangle (40, 2, 51, 21).
  LRESULT Notify(HWND from, DWORD stage, DWORD_PTR item, HDC hdc) {
    NMCUSTOMDRAW draw{};
    draw.hdr = {from, 0, static_cast<UINT>(NM_CUSTOMDRAW)};
    draw.dwDrawStage = stage;
    draw.hdc = hdc;
    draw.rc = {40, 2, 51, 21};
    draw.dwItemSpec = item;
    return SendMessageA(parent.Get(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
  }
  bool ReachedParent(UINT message) const { return Saw(parent.Get(), message); }

  // The skin goes before its window, and the children with their parent.
  HiddenWindow parent{50, 60, 300, 200};
  Canvas background{300, 200, kSkin, {{30, 40, kTopLeft}, {149, 69, kBottomRight}}};
  Canvas paper{200, 100, kPaper};
  std::unique_ptr<TrackbarSkin> skin;
  HWND horizontal = Child(TRACKBAR_CLASSA, TBS_HORZ, 30, 40, 120, 30);
  HWND vertical = Child(TRACKBAR_CLASSA, TBS_VERT, 200, 20, 30, 120);
  HWND disabled = Child(TRACKBAR_CLASSA, TBS_HORZ | WS_DISABLED, 30, 100, 120, 30);
  HWND checkBox = Child("BUTTON", BS_AUTOCHECKBOX, 10, 150, 80, 20);
};

TEST_F(SkinTest, ThumbsAtTheRectanglesOriginAndTheSkinBehindTheWholeTrackbar) {
  struct Case {
    HWND trackbar;
    COLORREF inside;
    SIZE size;
  };
  const COLORREF lightened = RGB(0x50, 0x80, 0x21);  // the thumb ORed over the paper
  for (const Case& c : {Case{horizontal, kHorizontal, {11, 19}},
                        Case{vertical, kVertical, {19, 11}}, Case{disabled, lightened, {11, 19}}}) {
    Canvas target(200, 100, kPaper);
    EXPECT_EQ(Notify(c.trackbar, CDDS_ITEMPREPAINT, TBCD_THUMB, target.Dc()), CDRF_SKIPDEFAULT);
    EXPECT_EQ(target.At(40, 2), c.inside);
    EXPECT_EQ(target.At(39 + c.size.cx, 1 + c.size.cy), c.inside);
    EXPECT_EQ(target.At(40 + c.size.cx, 2), kPaper);
    EXPECT_EQ(target.At(40, 2 + c.size.cy), kPaper);
  }
  EXPECT_EQ(Notify(horizontal, CDDS_PREPAINT, 0, paper.Dc()), CDRF_NOTIFYITEMDRAW);
  EXPECT_EQ(Notify(horizontal, CDDS_ITEMPREPAINT, TBCD_CHANNEL, paper.Dc()), CDRF_SKIPDEFAULT);
  // The trackbar is 120 x 30 at (30, 40).
  EXPECT_EQ(paper.At(0, 0), kTopLeft);
  EXPECT_EQ(paper.At(60, 12), kSkin);
  EXPECT_EQ(paper.At(119, 29), kBottomRight);
  EXPECT_EQ(paper.At(120, 29), kPaper);
  EXPECT_EQ(paper.At(119, 30), kPaper);
  EXPECT_FALSE(ReachedParent(WM_NOTIFY));
}

TEST_F(SkinTest, WhatTheSkinDoesNotAnswerReachesThePreviousProcedureUnchanged) {
  struct Case {
    const char* name;
    HWND from;
    DWORD stage;
    DWORD_PTR item;
    HDC hdc;
  };
  const Case cases[] = {
      {"tick marks", horizontal, CDDS_ITEMPREPAINT, TBCD_TICS, paper.Dc()},
      {"an unknown stage", horizontal, CDDS_POSTPAINT, TBCD_THUMB, paper.Dc()},
      {"an unknown item", horizontal, CDDS_ITEMPREPAINT, 77, paper.Dc()},
      {"no context", horizontal, CDDS_ITEMPREPAINT, TBCD_THUMB, nullptr},
      {"a check box", checkBox, CDDS_ITEMPREPAINT, TBCD_THUMB, paper.Dc()},
      {"not a child", parent.Get(), CDDS_PREPAINT, 0, paper.Dc()},
  };
  for (const Case& c : cases) {
    SeenMessages().clear();
    EXPECT_EQ(Notify(c.from, c.stage, c.item, c.hdc), 0) << c.name;
    EXPECT_TRUE(ReachedParent(WM_NOTIFY)) << c.name;
  }
  EXPECT_EQ(paper.At(40, 2), kPaper);
  SeenMessages().clear();
  EXPECT_EQ(SendMessageA(parent.Get(), WM_NOTIFY, 0, 0), 0);
  EXPECT_TRUE(ReachedParent(WM_NOTIFY)) << "a null notification";
  NMHDR click{horizontal, 0, static_cast<UINT>(NM_CLICK)};
  SeenMessages().clear();
  SendMessageA(parent.Get(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
  EXPECT_TRUE(ReachedParent(WM_NOTIFY)) << "another notification";
  EXPECT_EQ(SendMessageA(parent.Get(), kEchoMessage, 1, 2), Echo(1, 2));
  // The skin alone gives static-coloured children a hollow brush.
  EXPECT_EQ(SendMessageA(parent.Get(), WM_CTLCOLORSTATIC, 0, 0),
            reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
  EXPECT_FALSE(ReachedParent(WM_CTLCOLORSTATIC));
}

TEST_F(SkinTest, TheDestructorPutsThePreviousProcedureBack) {
  const auto recording = reinterpret_cast<LONG_PTR>(&RecordingProcedure);
  EXPECT_NE(GetWindowLongPtrA(parent.Get(), GWLP_WNDPROC), recording);
  // One skin per process: a second one is refused and its thumbs given back.
  HBITMAP thumb = MakeBitmap(11, 19, kHorizontal);
  EXPECT_EQ(TrackbarSkin::Create(parent.Get(), thumb, MakeBitmap(19, 11, kVertical), nullptr),
            nullptr);
  EXPECT_EQ(GetObjectType(thumb), 0U);
  skin.reset();
  EXPECT_EQ(GetWindowLongPtrA(parent.Get(), GWLP_WNDPROC), recording);
}

TEST_F(SkinTest, TheWindowGoingFirstGivesItsProcedureBackAndEndsTheSkinsUseOfIt) {
  HWND window = parent.Get();
  ASSERT_TRUE(DestroyWindow(window));
  parent.Forget();
  EXPECT_TRUE(Saw(window, WM_NCDESTROY));
  skin.reset();
  // A new skin can be made once the old one is gone.
  HiddenWindow again(0, 0, 50, 50);
  EXPECT_NE(TrackbarSkin::Create(again.Get(), MakeBitmap(11, 19, kHorizontal),
                                 MakeBitmap(19, 11, kVertical), nullptr),
            nullptr);
}

}  // namespace
}  // namespace mimicore::testing
