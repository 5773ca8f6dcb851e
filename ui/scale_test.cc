#include "ui/scale.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

TEST(ScaleFactorTest, ParsesForcedValues) {
  struct Case {
    const wchar_t* text;
    double expected;
  };
  const Case cases[] = {
      {L"1.5", 1.5},   {L"2", 2.0},      {L"1.25", 1.25}, {L"+1.75", 1.75}, {L".5", 0.5},
      {L"3.", 3.0},    {L"15e-1", 1.5},  {L"0.1E1", 1.0}, {L"0", 0.0},      {L"0.0", 0.0},
      {L"-1.5", 0.0},  {L"inf", 0.0},    {L"infinity", 0.0}, {L"1e999", 0.0}, {L"nan", 0.0},
      {L"", 0.0},      {L"abc", 0.0},    {L"1.5x", 0.0},  {L" 1.5", 0.0},   {L"1,5", 0.0},
      {L"e5", 0.0},    {L"1e", 0.0},     {L".", 0.0},     {L"--1", 0.0},
      // Up to 500 %; beyond, the screen decides.
      {L"5", 5.0},     {L"5.0001", 0.0}, {L"1e10", 0.0},  {L"3e9", 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ParseForcedScaleFactor(c.text), c.expected) << std::wstring(c.text);
  }
}

TEST(ScaleFactorTest, ForcedValueWinsOverTheScreen) {
  struct Case {
    const wchar_t* switch_value;
    int dpi;
    double expected;
  };
  const Case cases[] = {
      {L"1.5", 96, 1.5},   {L"1.5", 192, 1.5}, {L"0", 144, 1.5},  {L"inf", 120, 1.25},
      {L"junk", 192, 2.0}, {L"", 96, 1.0},     {L"", 72, 0.75},   {L"", 0, 1.0},
      {L"-2", 96, 1.0},    {L"1e999", 168, 1.75}, {L"1e10", 120, 1.25},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ChooseDeviceScaleFactor(c.switch_value, c.dpi), c.expected)
        << std::wstring(c.switch_value) << " at " << c.dpi;
  }
}

TEST(ScaleFactorTest, LengthsAndFontsTruncate) {
  struct Case {
    int length;
    double factor;
    int scaled;
  };
  const Case lengths[] = {
      {728, 1.5, 1092}, {15, 1.5, 22}, {11, 1.25, 13}, {400, 1.25, 500}, {1, 1.75, 1},
      {0, 2.0, 0},      {-3, 1.5, -4}, {292, 1.0, 292}, {557, 1.5, 835},
  };
  for (const Case& c : lengths) {
    EXPECT_EQ(ScaleLength(c.length, c.factor), c.scaled) << c.length << " x " << c.factor;
  }
  const Case fonts[] = {
      {32, 1.5, -48}, {15, 1.5, -22}, {12, 1.5, -18}, {11, 1.5, -16},
      {28, 1.25, -35}, {11, 1.25, -13}, {12, 1.0, -12},
  };
  for (const Case& c : fonts) {
    EXPECT_EQ(ScaledFontHeight(c.length, c.factor), c.scaled) << c.length << " pt x " << c.factor;
  }
  const RECT scaled = ScaleRect(RECT{392, 56, 684, 60}, 1.5);
  EXPECT_EQ(scaled.left, 588);
  EXPECT_EQ(scaled.top, 84);
  EXPECT_EQ(scaled.right, 1026);
  EXPECT_EQ(scaled.bottom, 90);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int RunProbe(const std::wstring& arguments) {
  test_support::ScopedTempDir temp;
  int32_t exit_code = -1;
  const std::wstring command =
      L"\"" + test_support::TestProgram(L"scale_probe.exe") + L"\" " + arguments;
  EXPECT_TRUE(test_support::RunProgram(command, temp.path(), 60000, &exit_code)) << command;
  return exit_code;
}

// The factor a process computes from its own command line, and the font heights that
// follow from it.
TEST(ScaleFactorTest, ProcessReadsTheSwitchOnce) {
  const int screen = static_cast<int>(std::lround(ScreenDpi() / 96.0 * 1000.0));
  struct Case {
    const wchar_t* arguments;
    int expected;
  };
  const Case cases[] = {
      {L"--force-device-scale-factor=1.5", 1500},
      {L"--force-device-scale-factor=2.25", 2250},
      {L"/force-device-scale-factor=0.75", 750},
      {L"--force-device-scale-factor=0", screen},
      {L"--force-device-scale-factor=inf", screen},
      {L"--force-device-scale-factor=huge", screen},
      {L"", screen},
      {L"--force-device-scale-factor=1.5 --font-height=15", 22},
      {L"--force-device-scale-factor=1.5 --font-height=32", 48},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunProbe(c.arguments), c.expected) << std::wstring(c.arguments);
  }
}

}  // namespace
}  // namespace installer
