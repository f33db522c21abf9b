#include "ui/windows/display_renderer_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "gdi_support.h"
#include "ui/controls/gdi_guards_win.h"

namespace mimicore {
namespace {

using testing::Canvas;

constexpr COLORREF kSkin = RGB(10, 20, 30);
constexpr COLORREF kPanelSkin = RGB(200, 200, 200);
constexpr COLORREF kLit = RGB(0, 255, 0);
constexpr COLORREF kWindow = RGB(255, 0, 255);

// Everything a frame is drawn with, each surface filled with its own colour.
struct Display {
  Canvas back{342, 350, RGB(0, 0, 0)};
  Canvas skin{342, 350, kSkin};
  Canvas window{342, 350, kWindow};
  Canvas compose{237, 207, kPanelSkin};
  Canvas panelSkin{237, 207, kPanelSkin};
  Canvas lit{139, 4, kLit};
  Canvas panelWindow{237, 207, kWindow};
  GdiObject red{CreatePen(PS_SOLID, 1, RGB(255, 0, 0))};
  GdiObject green{CreatePen(PS_SOLID, 1, RGB(0, 230, 90))};
  GdiObject blue{CreatePen(PS_SOLID, 1, RGB(90, 150, 255))};
  GdiObject small{CreateFontA(12, 8, 0, 0, 700, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS,
                              CLIP_CHARACTER_PRECIS, PROOF_QUALITY, FIXED_PITCH, "Verdana")};
  GdiObject large{CreateFontA(64, 15, 0, 0, 500, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS,
                              CLIP_CHARACTER_PRECIS, PROOF_QUALITY, FIXED_PITCH, "Verdana")};

  Display() { SetBkMode(back.Dc(), TRANSPARENT); }
  void Draw(const DisplayFrame& frame) {
    DrawFrame(frame, DisplaySurfaces{back.Dc(), skin.Dc(), window.Dc(), compose.Dc(),
                                     panelSkin.Dc(), lit.Dc(), panelWindow.Dc(), red.Pen(),
                                     green.Pen(), blue.Pen(), small.Font(), large.Font()});
    GdiFlush();
  }
  // Rows of the window's display area where any pixel is not the skin.
  [[nodiscard]] std::optional<RECT> Changed(int top, int bottom) const {
    std::optional<RECT> box;
    for (int y = top; y < bottom; ++y) {
      for (int x = kDisplayArea.left; x < kDisplayArea.right; ++x) {
        if (window.At(x, y) != kSkin) {
          if (!box) {
            box = RECT{x, y, x + 1, y + 1};
          }
          box->left = std::min<LONG>(box->left, x);
          box->right = std::max<LONG>(box->right, x + 1);
          box->bottom = y + 1;
        }
      }
    }
    return box;
  }
};

DisplayFrame Blank() {
  DisplayFrame f;
  f.barHeights.fill(0);
  return f;
}

TEST(DisplayFrame, ZeroLineTraceBarsAndMeterLandOnTheirPixels) {
  // A constant block at half of full scale: every trace point 36 pixels
  // below the zero line, 80 of them across the screen.
  std::array<int16_t, 880> block{};
  block.fill(16384);
  DisplayFrame f = Blank();
  f.traceCount = ComputeTrace(block.data(), 880, 32768, f.trace);
  f.barHeights[0] = 50;
  f.barHeights[40] = 2;
  f.meterSegments = 3;
  Display d;
  d.Draw(f);

  struct Probe {
    int x, y;
    COLORREF colour;
  } probes[] = {
      {60, 173, RGB(255, 0, 0)},
      {288, 173, RGB(255, 0, 0)},  // zero line
      {150, 209, RGB(0, 230, 90)},
      {150, 208, kSkin},  // trace
      {273, 232, RGB(90, 150, 255)},
      {273, 280, RGB(90, 150, 255)},  // bin 0, 50 high
      {273, 231, kSkin},
      {233, 280, RGB(90, 150, 255)},  // bin 40: the stub
      {233, 279, kSkin},
      {59, 173, kWindow},  // outside the area
      {289, 173, kWindow},
      {150, 281, kWindow},
      {150, 67, kWindow},
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(d.window.At(p.x, p.y), p.colour) << p.x << "," << p.y;
  }
  for (int cell = 0; cell < 4; ++cell) {
    const int x = 85 + 7 * cell;
    const COLORREF want = cell < 3 ? kLit : kPanelSkin;
    EXPECT_EQ(d.panelWindow.At(x, 179), want) << cell;
    EXPECT_EQ(d.panelWindow.At(x + 4, 182), want) << cell;
    EXPECT_EQ(d.panelWindow.At(x + 5, 180), kPanelSkin) << cell;  // the gap
  }
  EXPECT_EQ(d.panelWindow.At(85, 178), kWindow);  // only the strip is copied
  EXPECT_EQ(d.panelWindow.At(85, 183), kWindow);

  // The next frame starts from the skin: nothing of this one stays.
  d.Draw(Blank());
  EXPECT_EQ(d.window.At(150, 209), kSkin);
  EXPECT_EQ(d.panelWindow.At(85, 179), kPanelSkin);
}

TEST(DisplayFrame, StatusTitleAtTheBoxTopAndTheValueTwoPixelsLower) {
  auto draw = [](const char* title, const char* value, int valueTop) {
    DisplayFrame f = Blank();
    f.statusVisible = value[0] != '\0';
    std::strcpy(f.status.title, title);
    std::strcpy(f.status.value, value);
    f.valueTop = valueTop;
    auto d = std::make_unique<Display>();
    d->Draw(f);
    // Below the trace's zero line nothing but the bars' stubs may change.
    return d->Changed(kDisplayArea.top, 170);
  };
  const auto title = draw("REC", " ", 86);
  ASSERT_TRUE(title.has_value());
  EXPECT_GE(title->left, 65);
  EXPECT_GE(title->top, 84);
  EXPECT_LE(title->bottom, 84 + 14);

  const auto alone = draw("", "8", 84);
  const auto lower = draw("", "8", 86);
  ASSERT_TRUE(alone.has_value() && lower.has_value());
  EXPECT_GE(alone->top, 84);
  EXPECT_EQ(lower->top, alone->top + 2);
  EXPECT_EQ(lower->bottom, alone->bottom + 2);

  EXPECT_FALSE(draw("REC", "", 86).has_value()) << "an empty value hides the title too";
}

}  // namespace
}  // namespace mimicore
