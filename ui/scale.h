// The device scale factor: the one number by which every length, position and font size of
// the interface is multiplied.
//
// The factor is worked out once per process, on first use, and never changes afterwards: the
// "force-device-scale-factor" switch when it holds a usable number, otherwise the screen's
// horizontal pixels per inch divided by 96. Scaling truncates toward zero, so a design length
// of 15 at factor 1.5 becomes 22. The pure forms that take the factor as an argument are what
// the cached forms call; tests and layout code that already hold a factor use them directly.
#ifndef UI_SCALE_H_
#define UI_SCALE_H_

#include <windows.h>

#include <string_view>

namespace installer {

// The largest forced factor: Windows itself offers up to 500 %. Beyond it the window would
// not fit any screen, and far beyond it lengths would not fit an int.
inline constexpr double kMaxForcedScaleFactor = 5.0;

// The value of the "force-device-scale-factor" switch read as a decimal floating-point
// number, or 0 when the text does not parse as a whole, is 0, negative, not a number,
// infinite or above `kMaxForcedScaleFactor`: 0 means "ask the screen".
double ParseForcedScaleFactor(std::wstring_view switch_value);

// The factor for a switch value and the screen's horizontal logical pixels per inch:
// the forced value when `ParseForcedScaleFactor` accepts it, else `screen_dpi` / 96.0.
// A `screen_dpi` of 0 or below (no screen device context) gives 1.0.
double ChooseDeviceScaleFactor(std::wstring_view switch_value, int screen_dpi);

// The process's factor: computed on the first call from the process command line and the
// screen device context, then cached. Thread-safe.
double GetDeviceScaleFactor();

// Replaces the cached factor for the rest of the process (0 restores the computed one).
// Only for tests that need a factor other than the screen's; call it before any window or
// thread reads the factor.
void SetDeviceScaleFactorForTesting(double factor);

// `length` × `factor`, truncated toward zero.
int ScaleLength(int length, double factor);
// Each of the four coordinates scaled with `ScaleLength`.
RECT ScaleRect(const RECT& rect, double factor);
// A font height for CreateFont: −(`point_size` × `factor`), truncated toward zero (the
// negative value asks for the character height, not the cell height).
int ScaledFontHeight(int point_size, double factor);

// The same with the process's factor.
int ScaleLength(int length);
RECT ScaleRect(const RECT& rect);
RECT ScaleRect(int left, int top, int right, int bottom);
int ScaledFontHeight(int point_size);

// A font of the interface: `face` at `point_size` scaled by the process's factor, weight 400,
// default character set, not italic, optionally underlined. Null when CreateFont fails; the
// caller owns the handle (keep it in a platform::ScopedFont).
HFONT CreateScaledFont(const wchar_t* face, int point_size, bool underline);

}  // namespace installer

#endif  // UI_SCALE_H_
