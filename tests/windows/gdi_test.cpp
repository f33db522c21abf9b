// What the display renderer and the skinned controls draw, read back pixel
// by pixel, and what they post, capture and give back.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

// Every message a test window gets, so that a test can tell what got through.
std::vector<UINT> g_seen;
LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}
struct Window {
  Window(int32_t x, int32_t y, int32_t width, int32_t height) {
    static const ATOM kind = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = &Record;
      wc.lpszClassName = "MimicoreTest";
      return RegisterClassA(&wc);
    }();
    handle = CreateWindowExA(0, MAKEINTATOM(kind), "", WS_POPUP, x, y, width, height, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~Window() { DestroyWindow(handle); }
  HWND handle;
};
bool Saw(UINT message) { return std::find(g_seen.begin(), g_seen.end(), message) != g_seen.end(); }

using Posts = std::vector<std::pair<UINT, LPARAM>>;
Posts TakePosts(HWND owner) {
  Posts taken;
  MSG msg;
  while (PeekMessageA(&msg, owner, WM_CONTROL_PRESSED, WM_KNOB_SET, PM_REMOVE)) {
    taken.emplace_back(msg.message, msg.lParam);
  }
  return taken;
}
Posts Posted(UINT message, LPARAM lParam) {
  return message == 0 ? Posts{} : Posts{{message, lParam}};
}
LPARAM At(int32_t x, int32_t y) { return MAKELPARAM(x, y); }

constexpr COLORREF kSkin = RGB(10, 20, 30);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLit = RGB(0, 255, 0);
constexpr COLORREF kUntouched = RGB(255, 0, 255);

struct Display {
  Canvas back{342, 350, 0}, skin{342, 350, kSkin}, window{342, 350, kUntouched};
  Canvas compose{237, 207, kSkin}, panelSkin{237, 207, kSkin}, lit{139, 4, kLit};
  Canvas panelWindow{237, 207, kUntouched};

  explicit Display(const DisplayFrame& f) { Draw(f); }
  void Draw(const DisplayFrame& f) {
    SetBkMode(back.Dc(), TRANSPARENT);
    const auto pen = static_cast<HPEN>(GetStockObject(WHITE_PEN));
    const auto font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    DrawFrame(f, {back.Dc(), skin.Dc(), window.Dc(), compose.Dc(), panelSkin.Dc(), lit.Dc(),
                  panelWindow.Dc(), pen, pen, pen, font, font});
    GdiFlush();
  }
  // The box of the display area's pixels that are not the skin, above y 170.
  [[nodiscard]] std::optional<RECT> Changed() const {
    std::optional<RECT> box;
    for (int y = kDisplayArea.top; y < 170; ++y) {
      for (int x = kDisplayArea.left; x < kDisplayArea.right; ++x) {
        if (window.At(x, y) != kSkin) {
          box = box.value_or(RECT{x, y, x + 1, y + 1});
          box = RECT{std::min<LONG>(box->left, x), box->top, std::max<LONG>(box->right, x + 1),
                     y + 1};
        }
      }
    }
    return box;
  }
};

TEST(Display, ZeroLineTraceBarsAndMeterLandOnTheirPixels) {
  DisplayFrame f;
  f.traceCount = 2;
  f.trace[0] = {61, 209};
  f.trace[1] = {288, 209};
  f.barHeights[0] = 50;
  f.barHeights[40] = 2;
  f.meterSegments = 3;
  Display d(f);
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
  for (int cell = 0; cell < 4; ++cell) {
    const int x = 85 + 7 * cell;
    EXPECT_EQ(d.panelWindow.At(x, 179), cell < 3 ? kLit : kSkin) << cell;
    EXPECT_EQ(d.panelWindow.At(x + 4, 182), cell < 3 ? kLit : kSkin) << cell;
    EXPECT_EQ(d.panelWindow.At(x + 5, 180), kSkin) << cell;  // the gap
  }
  EXPECT_EQ(d.panelWindow.At(85, 178), kUntouched);
  EXPECT_EQ(d.panelWindow.At(85, 183), kUntouched);
  d.Draw(DisplayFrame{});  // nothing of the last frame stays
  EXPECT_EQ(d.window.At(150, 209), kSkin);
  EXPECT_EQ(d.panelWindow.At(85, 179), kSkin);
}

TEST(Display, StatusTitleAtTheBoxTopAndTheValueWhereTheFrameSays) {
  auto changed = [](const char* title, const char* value, int valueTop) {
    DisplayFrame f;
    f.statusVisible = value[0] != '\0';
    std::strcpy(f.status.title, title);
    std::strcpy(f.status.value, value);
    f.valueTop = valueTop;
    return Display(f).Changed();
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

struct Probe : Control {
  Probe(std::vector<int>* log, int name) : log(log), name(name) {}
  bool HandleMessage(HWND, UINT, WPARAM, LPARAM) override {
    log->push_back(name);
    return claims;
  }
  std::vector<int>* log;
  int name;
  bool claims = false;
};

TEST(Controls, ListKeepsTheOrderAndDispatchStopsAtTheFirstClaimButForPaint) {
  std::vector<int> log, all;
  std::vector<std::unique_ptr<Probe>> probes;
  ControlList list;
  EXPECT_FALSE(list.Add(nullptr));
  for (int i = 0; i < 33; ++i) {
    probes.push_back(std::make_unique<Probe>(&log, i));
    ASSERT_TRUE(list.Add(probes.back().get()));
    all.push_back(i);
  }
  probes[1]->claims = probes[2]->claims = true;
  EXPECT_TRUE(list.Dispatch(nullptr, WM_LBUTTONDOWN, 0, 0));
  EXPECT_EQ(log, (std::vector<int>{0, 1}));
  log.clear();
  EXPECT_TRUE(list.Dispatch(nullptr, WM_PAINT, 0, 0));
  EXPECT_EQ(log, all);
}

constexpr COLORREF kStates[] = {0, RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200)};
constexpr COLORREF kPaper = RGB(0x40, 0x00, 0x01);

TEST(Controls, ButtonStatesCaptureAndPostsFollowThePointer) {
  enum Which { kPlain, kLeftOfTheWindow, kShaped };
  struct Step {
    Which button;
    UINT message;
    int32_t x, y, state;
    bool captured;
    UINT posted;
  } steps[] = {
      // Bounds (20, 10, 35, 25), right and bottom edge drawn but not hit; (-5, 10, 10, 25);
      // the first again, hit only in (20, 10, 28, 18).
      {kPlain, WM_MOUSEMOVE, 25, 15, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 26, 16, kHover, true, 0},
      {kPlain, WM_LBUTTONDOWN, 25, 15, kPressed, true, WM_CONTROL_PRESSED},
      {kPlain, WM_MOUSEMOVE, 100, 100, kPressed, true, 0},
      {kPlain, WM_LBUTTONUP, 100, 100, kNormal, false, WM_CONTROL_CLICKED},
      {kPlain, WM_LBUTTONDOWN, 25, 15, kPressed, false, WM_CONTROL_PRESSED},
      {kPlain, WM_LBUTTONUP, 26, 16, kHover, true, WM_CONTROL_CLICKED},
      {kPlain, WM_MOUSEMOVE, 36, 16, kNormal, false, 0},
      {kPlain, WM_LBUTTONUP, 25, 15, kNormal, false, 0},
      {kPlain, WM_MOUSEMOVE, 35, 15, kNormal, false, 0},
      {kPlain, WM_MOUSEMOVE, 34, 24, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 25, 25, kNormal, false, 0},
      {kPlain, WM_MOUSEMOVE, 20, 10, kHover, true, 0},
      {kPlain, WM_MOUSEMOVE, 19, 10, kNormal, false, 0},
      // Left of the window under capture: read as signed, 65535 would be inside.
      {kLeftOfTheWindow, WM_MOUSEMOVE, 2, 15, kHover, true, 0},
      {kLeftOfTheWindow, WM_MOUSEMOVE, 65535, 15, kNormal, false, 0},
      {kLeftOfTheWindow, WM_LBUTTONDOWN, 65535, 15, kNormal, false, 0},
      {kShaped, WM_LBUTTONDOWN, 30, 20, kNormal, false, 0},
      {kShaped, WM_LBUTTONDOWN, 22, 12, kPressed, false, WM_CONTROL_PRESSED},
  };
  Window owner(100, 100, 300, 200);
  Canvas canvas(300, 200, kPaper);
  GdiObject shape(CreateRectRgn(20, 10, 28, 18));
  BitmapButton buttons[3];
  for (const Which b : {kPlain, kLeftOfTheWindow, kShaped}) {
    ASSERT_TRUE(buttons[b].SetupAt(
        b == kLeftOfTheWindow ? -5 : 20, 10, b == kShaped ? shape.Region() : nullptr,
        MakeBitmap(16, 16, kStates[kNormal]), nullptr, MakeBitmap(16, 16, kStates[kHover]), nullptr,
        MakeBitmap(16, 16, kStates[kPressed]), nullptr, owner.handle, canvas.Dc()));
  }
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << s.message << " at " << s.x << "," << s.y);
    BitmapButton& button = buttons[s.button];
    // The whole rectangle is drawn, its last pixel too, on a change of state only.
    const POINT corner{button.bounds.right, button.bounds.bottom};
    SetPixel(canvas.Dc(), corner.x, corner.y, kPaper);
    const int32_t before = button.State();
    button.HandleMessage(owner.handle, s.message, 0, At(s.x, s.y));
    EXPECT_EQ(button.State(), s.state);
    EXPECT_EQ(GetCapture() == owner.handle, s.captured);
    EXPECT_EQ(TakePosts(owner.handle), Posted(s.posted, At(s.x, s.y)));
    EXPECT_EQ(canvas.At(corner.x, corner.y), before != s.state ? kStates[s.state] : kPaper);
  }
}

// A 34 x 30 knob at (20, 10) over green; its black face is see-through but
// for a (1, 0, 0) pixel and a brown one.
constexpr COLORREF kGreen = RGB(0, 0xC0, 0);
constexpr COLORREF kNearBlack = RGB(1, 0, 0);
constexpr COLORREF kBrown = RGB(0x80, 0x40, 0x20);
constexpr COLORREF kNeedle = RGB(255, 0, 255);

struct KnobTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(knob.SetupAt(20, 10, nullptr, kNeedle,
                             MakeBitmap(34, 30, 0, {{2, 2, kNearBlack}, {4, 2, kBrown}}), nullptr,
                             nullptr, nullptr, nullptr, nullptr, owner.handle, canvas.Dc()));
  }
  COLORREF Face(int32_t x, int32_t y) const { return canvas.At(20 + x, 10 + y); }
  Window owner{100, 100, 300, 200};
  Canvas canvas{300, 200, kGreen};
  RotaryKnob knob;
};

TEST_F(KnobTest, DragsTurnItAndPostWhileDisabledKnobsTakeNoPress) {
  constexpr WPARAM kDown = MK_LBUTTON;
  struct Step {
    UINT message;
    int32_t x, y;
    WPARAM buttons;
    int32_t enabled, value, state;
    bool captured;
    UINT posted;
  } steps[] = {
      {WM_MOUSEMOVE, 25, 15, 0, 1, 50, kHover, true, 0},
      {WM_LBUTTONDOWN, 25, 15, kDown, 1, 50, kPressed, true, WM_CONTROL_PRESSED},
      {WM_MOUSEMOVE, 25, 22, kDown, 1, 50, kPressed, true, 0},
      {WM_MOUSEMOVE, 55, 15, kDown, 1, 80, kPressed, true, WM_KNOB_CHANGED},
      {WM_MOUSEMOVE, 55, 15, kDown, 1, 100, kPressed, true, WM_KNOB_CHANGED},
      // Left of the window: read as unsigned, x would turn the knob up.
      {WM_MOUSEMOVE, -475, 15, kDown, 1, 0, kPressed, true, WM_KNOB_CHANGED},
      // The button-up was lost: a move without the button ends the drag.
      {WM_MOUSEMOVE, 35, 15, 0, 1, 0, kHover, true, WM_CONTROL_CLICKED},
      {WM_LBUTTONDOWN, 25, 15, kDown, 1, 0, kPressed, true, WM_CONTROL_PRESSED},
      {WM_LBUTTONUP, 200, 150, 0, 1, 0, kNormal, false, WM_CONTROL_CLICKED},
      {WM_LBUTTONDOWN, 25, 15, kDown, 0, 0, kNormal, false, 0},
      {WM_MOUSEMOVE, 25, 15, 0, 0, 0, kNormal, false, 0},
      {WM_LBUTTONDOWN, 65535, 15, kDown, 1, 0, kNormal, false, 0},
  };
  knob.SetPosition(50);
  TakePosts(owner.handle);
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << s.message << " at " << s.x << "," << s.y);
    knob.enabled = s.enabled;
    knob.HandleMessage(owner.handle, s.message, s.buttons, At(s.x, s.y));
    EXPECT_EQ(knob.Value(), s.value);
    EXPECT_EQ(knob.State(), s.state);
    EXPECT_EQ(GetCapture() == owner.handle, s.captured);
    EXPECT_EQ(TakePosts(owner.handle), Posted(s.posted, At(s.x, s.y)));
  }
}

TEST_F(KnobTest, SetPositionClampsAndRedrawsAndPostsOnlyOnAChange) {
  struct Case {
    int32_t from, to, value;
    bool changed;
  };
  for (const Case& c : {Case{50, 150, 100, true}, {100, 100, 100, false}, {30, -5, 0, true}}) {
    knob.SetPosition(c.from);
    TakePosts(owner.handle);
    SetPixel(canvas.Dc(), 22, 12, kGreen);
    knob.SetPosition(c.to);
    EXPECT_EQ(knob.Value(), c.value);
    EXPECT_EQ(TakePosts(owner.handle), Posted(c.changed ? WM_KNOB_SET : 0, 0)) << c.to;
    EXPECT_EQ(Face(2, 2), c.changed ? kNearBlack : kGreen) << c.to;
  }
}

TEST_F(KnobTest, NeedleEndsAndTheMaskedOrFadedFace) {
  knob.needleCentre = {16, 17};
  knob.radius = 10;
  for (const auto& [value, end, beyond] : {std::tuple{0, POINT{9, 24}, POINT{6, 27}},
                                           {50, {16, 7}, {16, 4}},
                                           {100, {23, 24}, {26, 27}}}) {
    knob.SetPosition(value);
    knob.Draw();
    EXPECT_EQ(Face(end.x, end.y), kNeedle) << value;
    EXPECT_EQ(Face(beyond.x, beyond.y), kGreen) << value;
  }
  struct Case {
    int32_t enabled;
    POINT at;
    COLORREF shown;
  };
  for (const Case& c : {Case{1, {0, 0}, kGreen},
                        {1, {2, 2}, kNearBlack},
                        {1, {4, 2}, kBrown},
                        {0, {0, 0}, kGreen},
                        {0, {2, 2}, RGB(1, 0xC0, 0)},
                        {0, {4, 2}, RGB(0x80, 0xC0, 0x20)},
                        {1, {2, 2}, kNearBlack}}) {
    knob.enabled = c.enabled;
    knob.Draw();
    EXPECT_EQ(Face(c.at.x, c.at.y), c.shown) << c.enabled << " at " << c.at.x << "," << c.at.y;
  }
}

constexpr COLORREF kThumb = RGB(0x10, 0x80, 0x20);
constexpr COLORREF kUpright = RGB(0x20, 0x10, 0x80);
constexpr COLORREF kCorner = RGB(1, 2, 3);

struct SkinTest : ::testing::Test {
  void SetUp() override {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    skin = TrackbarSkin::Create(parent.handle, MakeBitmap(11, 19, kThumb),
                                MakeBitmap(19, 11, kUpright), background.Dc());
    ASSERT_NE(skin, nullptr);
  }
  HWND Child(const char* kind, DWORD style, int32_t x, int32_t y, int32_t w = 120, int32_t h = 30) {
    return CreateWindowExA(0, kind, "", WS_CHILD | style, x, y, w, h, parent.handle, nullptr,
                           nullptr, nullptr);
  }
  // Custom draw of the rectangle (40, 2, 51, 21) into |dc|.
  LRESULT Notify(HWND from, DWORD stage, DWORD_PTR item, HDC dc) {
    g_seen.clear();
    NMCUSTOMDRAW draw{
        {from, 0, static_cast<UINT>(NM_CUSTOMDRAW)}, stage, dc, {40, 2, 51, 21}, item, 0, 0};
    return SendMessageA(parent.handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
  }
  Window parent{50, 60, 300, 200};
  Canvas background{300, 200, kSkin, {{30, 40, kCorner}, {149, 69, kCorner}}};
  Canvas paper{200, 100, kPaper};
  std::unique_ptr<TrackbarSkin> skin;
  HWND trackbar = Child(TRACKBAR_CLASSA, TBS_HORZ, 30, 40);
};

TEST_F(SkinTest, ThumbAtTheRectanglesOriginAndTheParentsSkinBehindTheTrackbar) {
  struct Case {
    HWND from;
    COLORREF inside;
    SIZE size;
  };
  for (const Case& c :
       {Case{trackbar, kThumb, {11, 19}},
        {Child(TRACKBAR_CLASSA, TBS_VERT, 200, 20, 30, 120), kUpright, {19, 11}},
        // Disabled: the thumb ORed over what is there.
        {Child(TRACKBAR_CLASSA, WS_DISABLED, 30, 100), RGB(0x50, 0x80, 0x21), {11, 19}}}) {
    Canvas target(200, 100, kPaper);
    EXPECT_EQ(Notify(c.from, CDDS_ITEMPREPAINT, TBCD_THUMB, target.Dc()), CDRF_SKIPDEFAULT);
    EXPECT_EQ(target.At(40, 2), c.inside);
    EXPECT_EQ(target.At(39 + c.size.cx, 1 + c.size.cy), c.inside);
    EXPECT_EQ(target.At(40 + c.size.cx, 2), kPaper);
    EXPECT_EQ(target.At(40, 2 + c.size.cy), kPaper);
  }
  EXPECT_EQ(Notify(trackbar, CDDS_PREPAINT, 0, paper.Dc()), CDRF_NOTIFYITEMDRAW);
  EXPECT_EQ(Notify(trackbar, CDDS_ITEMPREPAINT, TBCD_CHANNEL, paper.Dc()), CDRF_SKIPDEFAULT);
  EXPECT_FALSE(Saw(WM_NOTIFY));
  // The trackbar is 120 x 30 at (30, 40).
  for (const Pixel& p : {Pixel{0, 0, kCorner},
                         {60, 12, kSkin},
                         {119, 29, kCorner},
                         {120, 29, kPaper},
                         {119, 30, kPaper}}) {
    EXPECT_EQ(paper.At(p.x, p.y), p.colour) << p.x << "," << p.y;
  }
}

TEST_F(SkinTest, WhatTheSkinDoesNotDrawReachesThePreviousProcedure) {
  HWND checkBox = Child("BUTTON", BS_AUTOCHECKBOX, 10, 150);
  struct Case {
    HWND from;
    DWORD stage;
    DWORD_PTR item;
    HDC dc;
  };
  for (const Case& c : {Case{trackbar, CDDS_ITEMPREPAINT, TBCD_TICS, paper.Dc()},
                        {trackbar, CDDS_POSTPAINT, TBCD_THUMB, paper.Dc()},
                        {trackbar, CDDS_ITEMPREPAINT, 77, paper.Dc()},
                        {trackbar, CDDS_ITEMPREPAINT, TBCD_THUMB, nullptr},
                        {checkBox, CDDS_ITEMPREPAINT, TBCD_THUMB, paper.Dc()},
                        {parent.handle, CDDS_PREPAINT, 0, paper.Dc()}}) {
    EXPECT_EQ(Notify(c.from, c.stage, c.item, c.dc), 0) << c.stage << " " << c.item;
    EXPECT_TRUE(Saw(WM_NOTIFY)) << c.stage << " " << c.item;
  }
  EXPECT_EQ(paper.At(40, 2), kPaper);
  g_seen.clear();
  EXPECT_EQ(SendMessageA(parent.handle, WM_NOTIFY, 0, 0), 0);
  EXPECT_TRUE(Saw(WM_NOTIFY)) << "a null notification";
  // One skin per process: a second is refused and its thumbs given back.
  HBITMAP thumb = MakeBitmap(11, 19, kThumb);
  EXPECT_EQ(TrackbarSkin::Create(parent.handle, thumb, MakeBitmap(19, 11, kThumb), nullptr),
            nullptr);
  EXPECT_EQ(GetObjectType(thumb), 0U);
  skin.reset();
  EXPECT_EQ(GetWindowLongPtrA(parent.handle, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&Record));
}

TEST_F(SkinTest, AWindowDestroyedFirstEndsTheSkinsUseOfIt) {
  DestroyWindow(parent.handle);
  EXPECT_TRUE(Saw(WM_NCDESTROY)) << "the previous procedure got its last message";
  skin.reset();
  Window again(0, 0, 50, 50);
  EXPECT_NE(
      TrackbarSkin::Create(again.handle, MakeBitmap(11, 19, 0), MakeBitmap(19, 11, 0), nullptr),
      nullptr);
}

// Setup owns what it is given also when it fails; a second setup and the
// destructors give back all that the first made.
TEST(Controls, EveryGdiObjectIsGivenBack) {
  Window owner(0, 0, 100, 100);
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
