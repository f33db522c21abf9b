// What the display renderer and the skinned controls draw, read back pixel
// by pixel, and what they post, capture and give back.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/rotary_knob_win.h"
#include "ui/controls/trackbar_skin_win.h"
#include "ui/windows/display_renderer_win.h"

namespace mimicore {
namespace {

struct Pixel {
  int32_t x, y;
  COLORREF colour;
};

HBITMAP MakeBitmap(int32_t width, int32_t height, COLORREF fill, std::vector<Pixel> pixels = {}) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ saved = SelectObject(dc, bitmap);
  SetDCBrushColor(dc, fill);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  for (const Pixel& p : pixels) {
    SetPixel(dc, p.x, p.y, p.colour);
  }
  SelectObject(dc, saved);
  DeleteDC(dc);
  return bitmap;
}

struct Canvas : Surface {
  Canvas(int32_t width, int32_t height, COLORREF fill, std::vector<Pixel> pixels = {}) {
    Create(nullptr, MakeBitmap(width, height, fill, std::move(pixels)));
  }
  [[nodiscard]] COLORREF At(int32_t x, int32_t y) const { return GetPixel(Dc(), x, y); }
};

struct Window {
  HWND handle = CreateWindowExA(0, "STATIC", "", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  ~Window() { DestroyWindow(handle); }
};

constexpr COLORREF kSkin = RGB(10, 20, 30);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLit = RGB(0, 255, 0);
constexpr COLORREF kUntouched = RGB(255, 0, 255);

struct Display {
  Canvas back{342, 350, 0}, skin{342, 350, kSkin}, window{342, 350, kUntouched};
  Canvas compose{237, 207, kSkin}, panelSkin{237, 207, kSkin}, lit{139, 4, kLit};
  Canvas panelWindow{237, 207, kUntouched};

  void Draw(const DisplayFrame& f) {
    SetBkMode(back.Dc(), TRANSPARENT);
    const auto pen = static_cast<HPEN>(GetStockObject(WHITE_PEN));
    const auto font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    DrawFrame(f, {back.Dc(), skin.Dc(), window.Dc(), compose.Dc(), panelSkin.Dc(), lit.Dc(),
                  panelWindow.Dc(), pen, pen, pen, font, font});
    GdiFlush();
  }
};

TEST(Display, ZeroLineTraceBarsAndMeterLandOnTheirPixelsAndGoWithTheNextFrame) {
  DisplayFrame f;
  f.traceCount = 2;
  f.trace[0] = {61, 209};
  f.trace[1] = {288, 209};
  f.barHeights[0] = 50;
  f.barHeights[40] = 2;
  f.meterSegments = 3;
  Display d;
  d.Draw(f);
  for (const Pixel& p : {Pixel{60, 173, kWhite},
                         {288, 173, kWhite},
                         {150, 209, kWhite},
                         {150, 208, kSkin},
                         {273, 232, kWhite},
                         {273, 280, kWhite},
                         {273, 231, kSkin},
                         {272, 280, kSkin},
                         {233, 280, kWhite},
                         {233, 279, kSkin},
                         {232, 280, kSkin},
                         {59, 173, kUntouched},
                         {289, 173, kUntouched},
                         {150, 281, kUntouched},
                         {150, 67, kUntouched}}) {
    EXPECT_EQ(d.window.At(p.x, p.y), p.colour) << p.x << "," << p.y;
  }
  for (int x = 85; x < 85 + 28; ++x) {  // three cells lit, 5 pixels wide, 7 apart
    EXPECT_EQ(d.panelWindow.At(x, 180), x < 85 + 21 && (x - 85) % 7 < 5 ? kLit : kSkin) << x;
  }
  EXPECT_EQ(d.panelWindow.At(85, 178), kUntouched);
  EXPECT_EQ(d.panelWindow.At(85, 183), kUntouched);
  d.Draw(DisplayFrame{});
  EXPECT_EQ(d.window.At(150, 209), kSkin);
  EXPECT_EQ(d.panelWindow.At(85, 180), kSkin);
}

TEST(Display, StatusTitleAtTheBoxTopAndTheValueWhereTheFrameSays) {
  // The box of what changed in the display area above the zero line.
  auto changed = [](const char* title, const char* value, int valueTop) {
    DisplayFrame f;
    f.statusVisible = value[0] != '\0';
    std::strcpy(f.status.title, title);
    std::strcpy(f.status.value, value);
    f.valueTop = valueTop;
    Display d;
    d.Draw(f);
    std::optional<RECT> box;
    for (int y = kDisplayArea.top; y < 170; ++y) {
      for (int x = kDisplayArea.left; x < kDisplayArea.right; ++x) {
        if (d.window.At(x, y) != kSkin) {
          box = box.value_or(RECT{x, y, x + 1, y + 1});
          box = RECT{std::min<LONG>(box->left, x), box->top, std::max<LONG>(box->right, x + 1),
                     y + 1};
        }
      }
    }
    return box;
  };
  const auto title = changed("REC", " ", 120);
  ASSERT_TRUE(title.has_value());
  EXPECT_GE(title->left, 65);
  EXPECT_GE(title->top, 84);
  EXPECT_LE(title->bottom, 84 + 14);
  const auto alone = changed("", "8", 84);
  const auto lower = changed("", "8", 86);
  ASSERT_TRUE(alone.has_value() && lower.has_value());
  EXPECT_EQ(lower->top, alone->top + 2);
  EXPECT_FALSE(changed("REC", "", 86).has_value()) << "an empty value hides the title too";
}

using Posts = std::vector<std::pair<UINT, LPARAM>>;
Posts TakePosts(HWND owner) {
  Posts taken;
  MSG msg;
  while (PeekMessageA(&msg, owner, WM_CONTROL_PRESSED, WM_KNOB_SET, PM_REMOVE)) {
    taken.emplace_back(msg.message, msg.lParam);
  }
  return taken;
}

constexpr COLORREF kPaper = RGB(0x40, 0x00, 0x01);

TEST(Controls, StatesCaptureAndPostsFollowTheMouse) {
  Window owner;
  Canvas canvas(300, 200, kPaper);
  GdiObject shape(CreateRectRgn(20, 10, 28, 18));
  BitmapButton plain, left, shaped;
  for (auto [button, x, region] :
       {std::tuple{&plain, 20, HRGN{}}, {&left, -5, HRGN{}}, {&shaped, 20, shape.Region()}}) {
    ASSERT_TRUE(button->SetupAt(x, 10, region, MakeBitmap(16, 16, 0), nullptr, nullptr, nullptr,
                                nullptr, nullptr, owner.handle, canvas.Dc()));
  }
  RotaryKnob knob;
  ASSERT_TRUE(knob.SetupAt(100, 10, nullptr, 0, MakeBitmap(34, 30, 0), nullptr, nullptr, nullptr,
                           nullptr, nullptr, owner.handle, canvas.Dc()));
  knob.SetPosition(30);
  TakePosts(owner.handle);
  for (const auto& [to, value] : {std::pair{-5, 0}, {150, 100}, {100, 100}, {50, 50}}) {
    knob.SetPosition(to);
    EXPECT_EQ(knob.Value(), value);
  }
  EXPECT_EQ(TakePosts(owner.handle).size(), 3U) << "a position it already has posts nothing";
  constexpr WPARAM kDown = MK_LBUTTON;
  constexpr UINT kTurned = WM_KNOB_CHANGED;
  struct Step {
    PointerControl* control;
    UINT message;
    int32_t x, y;
    WPARAM buttons;
    int32_t enabled, state;
    bool captured;
    UINT posted;
    int32_t value;
  } steps[] = {
      // The buttons are (20, 10, 35, 25), the right and bottom edges drawn
      // but not hit, and (-5, 10, 10, 25); the shaped one is hit in (20, 10, 28, 18).
      {&plain, WM_MOUSEMOVE, 25, 15, 0, 1, kHover, true, 0, 50},
      {&plain, WM_LBUTTONDOWN, 25, 15, kDown, 1, kPressed, true, WM_CONTROL_PRESSED, 50},
      {&plain, WM_MOUSEMOVE, 100, 100, kDown, 1, kPressed, true, 0, 50},
      {&plain, WM_LBUTTONUP, 100, 100, 0, 1, kNormal, false, WM_CONTROL_CLICKED, 50},
      {&plain, WM_LBUTTONDOWN, 25, 15, kDown, 1, kPressed, false, WM_CONTROL_PRESSED, 50},
      {&plain, WM_LBUTTONUP, 26, 16, 0, 1, kHover, true, WM_CONTROL_CLICKED, 50},
      {&plain, WM_MOUSEMOVE, 35, 15, 0, 1, kNormal, false, 0, 50},
      {&plain, WM_MOUSEMOVE, 34, 24, 0, 1, kHover, true, 0, 50},
      {&plain, WM_MOUSEMOVE, 25, 25, 0, 1, kNormal, false, 0, 50},
      {&plain, WM_MOUSEMOVE, 20, 10, 0, 1, kHover, true, 0, 50},
      {&plain, WM_MOUSEMOVE, 19, 10, 0, 1, kNormal, false, 0, 50},
      // Left of the window under capture: read as signed, 65535 would be -1, inside.
      {&left, WM_MOUSEMOVE, 2, 15, 0, 1, kHover, true, 0, 50},
      {&left, WM_MOUSEMOVE, 65535, 15, 0, 1, kNormal, false, 0, 50},
      {&left, WM_LBUTTONDOWN, 65535, 15, kDown, 1, kNormal, false, 0, 50},
      {&shaped, WM_LBUTTONDOWN, 30, 20, kDown, 1, kNormal, false, 0, 50},
      {&shaped, WM_LBUTTONDOWN, 22, 12, kDown, 1, kPressed, false, WM_CONTROL_PRESSED, 50},
      // The knob is (100, 10, 133, 39); a drag turns it by its distance from the start.
      {&knob, WM_MOUSEMOVE, 105, 15, 0, 1, kHover, true, 0, 50},
      {&knob, WM_LBUTTONDOWN, 105, 15, kDown, 1, kPressed, true, WM_CONTROL_PRESSED, 50},
      {&knob, WM_MOUSEMOVE, 105, 22, kDown, 1, kPressed, true, 0, 50},
      {&knob, WM_MOUSEMOVE, 135, 15, kDown, 1, kPressed, true, kTurned, 80},
      {&knob, WM_MOUSEMOVE, 135, 15, kDown, 1, kPressed, true, kTurned, 100},
      // Left of the window: read as unsigned, x would turn the knob up.
      {&knob, WM_MOUSEMOVE, -395, 15, kDown, 1, kPressed, true, kTurned, 0},
      // The button-up was lost: a move without the button ends the drag.
      {&knob, WM_MOUSEMOVE, 115, 15, 0, 1, kHover, true, WM_CONTROL_CLICKED, 0},
      {&knob, WM_LBUTTONDOWN, 105, 15, kDown, 1, kPressed, true, WM_CONTROL_PRESSED, 0},
      {&knob, WM_LBUTTONUP, 200, 150, 0, 1, kNormal, false, WM_CONTROL_CLICKED, 0},
      {&knob, WM_LBUTTONDOWN, 105, 15, kDown, 0, kNormal, false, 0, 0},
      {&knob, WM_LBUTTONDOWN, 65535, 15, kDown, 1, kNormal, false, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << s.message << " at " << s.x << "," << s.y);
    s.control->enabled = s.enabled;
    const LPARAM at = MAKELPARAM(s.x, s.y);
    s.control->HandleMessage(owner.handle, s.message, s.buttons, at);
    EXPECT_EQ(s.control->State(), s.state);
    EXPECT_EQ(GetCapture() == owner.handle, s.captured);
    EXPECT_EQ(TakePosts(owner.handle), (s.posted == 0 ? Posts{} : Posts{{s.posted, at}}));
    EXPECT_EQ(knob.Value(), s.value);
  }
}

TEST(Controls, TrackbarThumbsAtTheRectanglesOriginAndTheSkinBehindTheChannel) {
  constexpr COLORREF kAcross = RGB(0x10, 0x80, 0x20), kUpright = RGB(0x20, 0x10, 0x80);
  INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&init));
  Window parent;
  Canvas background(300, 200, kSkin, {{30, 40, kWhite}, {149, 69, kWhite}});
  const auto skin = TrackbarSkin::Create(parent.handle, MakeBitmap(11, 19, kAcross),
                                         MakeBitmap(19, 11, kUpright), background.Dc());
  ASSERT_NE(skin, nullptr);
  auto child = [&](DWORD style, int32_t x, int32_t y) {
    return CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | style, x, y, 120, 30, parent.handle,
                           nullptr, nullptr, nullptr);
  };
  HWND across = child(TBS_HORZ, 30, 40);
  auto notify = [&](HWND from, DWORD stage, DWORD_PTR item, HDC dc) {
    NMCUSTOMDRAW draw{{from, 0, UINT(NM_CUSTOMDRAW)}, stage, dc, {40, 2, 51, 21}, item, 0, 0};
    return SendMessageA(parent.handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
  };
  struct Case {
    HWND from;
    COLORREF inside;
    SIZE size;
  };
  for (const Case& c : {Case{across, kAcross, {11, 19}},
                        {child(TBS_VERT, 200, 20), kUpright, {19, 11}},
                        // Disabled: the thumb ORed over what is there.
                        {child(WS_DISABLED, 30, 100), RGB(0x50, 0x80, 0x21), {11, 19}}}) {
    Canvas target(200, 100, kPaper);
    EXPECT_EQ(notify(c.from, CDDS_ITEMPREPAINT, TBCD_THUMB, target.Dc()), CDRF_SKIPDEFAULT);
    EXPECT_EQ(target.At(40, 2), c.inside);
    EXPECT_EQ(target.At(39 + c.size.cx, 1 + c.size.cy), c.inside);
    EXPECT_EQ(target.At(40 + c.size.cx, 2), kPaper);
    EXPECT_EQ(target.At(40, 2 + c.size.cy), kPaper);
  }
  Canvas paper(200, 100, kPaper);
  EXPECT_EQ(notify(across, CDDS_PREPAINT, 0, paper.Dc()), CDRF_NOTIFYITEMDRAW);
  EXPECT_EQ(notify(across, CDDS_ITEMPREPAINT, TBCD_TICS, paper.Dc()), 0) << "left to the trackbar";
  EXPECT_EQ(notify(across, CDDS_ITEMPREPAINT, TBCD_CHANNEL, paper.Dc()), CDRF_SKIPDEFAULT);
  // The trackbar's 120 x 30 at (30, 40) of the parent's skin.
  for (const Pixel& p : {Pixel{0, 0, kWhite},
                         {60, 12, kSkin},
                         {119, 29, kWhite},
                         {120, 29, kPaper},
                         {119, 30, kPaper}}) {
    EXPECT_EQ(paper.At(p.x, p.y), p.colour) << p.x << "," << p.y;
  }
}

// Setup owns what it is given also when it fails; a second setup and the
// destructors give back all that the first made.
TEST(Controls, EveryGdiObjectIsGivenBack) {
  Window owner;
  Canvas canvas(100, 100, kPaper);
  const GdiLiveCounts before = LiveGdiCounts();
  const HBITMAP refused[] = {MakeBitmap(16, 16, 0), MakeBitmap(16, 16, 0), MakeBitmap(4, 4, 0),
                             MakeBitmap(11, 19, 0)};
  HBITMAP same = MakeBitmap(16, 16, 0);
  {
    BitmapButton button;
    RotaryKnob knob;
    EXPECT_FALSE(button.SetupAt(0, 0, nullptr, nullptr, nullptr, refused[0], nullptr, nullptr,
                                nullptr, owner.handle, canvas.Dc()));
    EXPECT_FALSE(knob.SetupAt(0, 0, nullptr, 0, nullptr, nullptr, refused[1], nullptr, nullptr,
                              nullptr, owner.handle, canvas.Dc()));
    // Empty bounds would give a 1 x 1 monochrome surface, not a knob.
    EXPECT_FALSE(knob.Setup(RECT{10, 10, 9, 9}, nullptr, 0, refused[2], nullptr, nullptr, nullptr,
                            nullptr, nullptr, owner.handle, canvas.Dc()));
    EXPECT_EQ(TrackbarSkin::Create(nullptr, refused[3], MakeBitmap(19, 11, 0), nullptr), nullptr);
    for (HBITMAP bitmap : refused) {
      EXPECT_EQ(GetObjectType(bitmap), 0U);
    }
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(knob.SetupAt(0, 0, nullptr, 0, MakeBitmap(34, 30, 0), nullptr, nullptr, nullptr,
                               nullptr, nullptr, owner.handle, canvas.Dc()));
    }
    // One handle for every state is owned once.
    ASSERT_TRUE(button.SetupAt(0, 0, nullptr, same, nullptr, same, nullptr, same, nullptr,
                               owner.handle, canvas.Dc()));
    ASSERT_NE(TrackbarSkin::Create(owner.handle, MakeBitmap(11, 19, 0), MakeBitmap(19, 11, 0),
                                   canvas.Dc()),
              nullptr);
  }
  EXPECT_EQ(LiveGdiCounts(), before);
  EXPECT_EQ(GetObjectType(same), 0U);
}

}  // namespace
}  // namespace mimicore
