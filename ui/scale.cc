#include "ui/scale.h"

#include <cstdint>

#include "platform/command_line.h"

namespace installer {
namespace {

constexpr double kDesignDpi = 96.0;

// 0 while tests leave the computed factor alone.
double g_factor_for_testing = 0.0;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// [sign] digits [. digits] [e|E [sign] digits], at least one mantissa digit, nothing after.
// Written out instead of wcstod: the runtime's converter is kept out of the executable, and
// the switch only ever carries plain decimal numbers.
bool ParseDecimal(std::wstring_view text, double* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  double mantissa = 0.0;
  int digits = 0;
  int fraction_digits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    mantissa = mantissa * 10.0 + (text[i++] - L'0');
    ++digits;
  }
  if (i < text.size() && text[i] == L'.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      mantissa = mantissa * 10.0 + (text[i++] - L'0');
      ++digits;
      ++fraction_digits;
    }
  }
  if (digits == 0) return false;
  int exponent = 0;
  if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
      negative_exponent = text[i++] == L'-';
    }
    int exponent_digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      // Beyond a few hundred the result is 0 or infinity either way.
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - L'0');
      ++i;
      ++exponent_digits;
    }
    if (exponent_digits == 0) return false;
    if (negative_exponent) exponent = -exponent;
  }
  if (i != text.size()) return false;
  // Dividing by an exact power of ten keeps values such as 1.5 or 1.25 exact.
  int power = exponent - fraction_digits;
  double result = mantissa;
  // Ten multiplied in a loop instead of std::pow, which would link the C library's general
  // power function (2 KB) for this one use; past 10^400 the double is infinite anyway.
  double scale = 1.0;
  for (int k = 0; k < (power < 0 ? -power : power) && k < 400; ++k) scale *= 10.0;
  if (power > 0) {
    result *= scale;
  } else if (power < 0) {
    result /= scale;
  }
  *value = negative ? -result : result;
  return true;
}

double ComputeDeviceScaleFactor() {
  int dpi = 0;
  const std::wstring forced = ProcessCommandLine().Value("force-device-scale-factor");
  if (ParseForcedScaleFactor(forced) == 0.0) {
    HDC screen = GetDC(nullptr);
    if (screen != nullptr) {
      dpi = GetDeviceCaps(screen, LOGPIXELSX);
      ReleaseDC(nullptr, screen);
    }
  }
  return ChooseDeviceScaleFactor(forced, dpi);
}

}  // namespace

double ParseForcedScaleFactor(std::wstring_view switch_value) {
  double value = 0.0;
  if (!ParseDecimal(switch_value, &value)) return 0.0;
  // A negative factor would turn every size inside out (and font heights positive); a huge
  // one makes lengths that no int holds (and converting those is undefined).
  if (!(value > 0.0) || value > kMaxForcedScaleFactor) return 0.0;
  return value;
}

double ChooseDeviceScaleFactor(std::wstring_view switch_value, int screen_dpi) {
  const double forced = ParseForcedScaleFactor(switch_value);
  if (forced != 0.0) return forced;
  if (screen_dpi <= 0) return 1.0;
  return screen_dpi / kDesignDpi;
}

double GetDeviceScaleFactor() {
  if (g_factor_for_testing > 0.0) return g_factor_for_testing;
  static const double factor = ComputeDeviceScaleFactor();
  return factor;
}

void SetDeviceScaleFactorForTesting(double factor) { g_factor_for_testing = factor; }

int ScaleLength(int length, double factor) {
  return static_cast<int>(length * factor);
}

RECT ScaleRect(const RECT& rect, double factor) {
  return RECT{ScaleLength(rect.left, factor), ScaleLength(rect.top, factor),
              ScaleLength(rect.right, factor), ScaleLength(rect.bottom, factor)};
}

int ScaledFontHeight(int point_size, double factor) {
  return -static_cast<int>(point_size * factor);
}

int ScaleLength(int length) { return ScaleLength(length, GetDeviceScaleFactor()); }

RECT ScaleRect(const RECT& rect) { return ScaleRect(rect, GetDeviceScaleFactor()); }

RECT ScaleRect(int left, int top, int right, int bottom) {
  return ScaleRect(RECT{left, top, right, bottom});
}

int ScaledFontHeight(int point_size) {
  return ScaledFontHeight(point_size, GetDeviceScaleFactor());
}

HFONT CreateScaledFont(const wchar_t* face, int point_size, bool underline) {
  return CreateFontW(ScaledFontHeight(point_size), 0, 0, 0, FW_NORMAL, FALSE,
                     underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

}  // namespace installer
