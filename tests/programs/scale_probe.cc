// Reports the device scale factor this process works out from its own command line and
// screen: the exit code is the factor times 1000, rounded. With "--font-height=N" it is
// instead the negated font height for an N-point font at that factor.
#include <windows.h>

#include <cmath>
#include <string>

#include "platform/command_line.h"
#include "platform/strings.h"
#include "ui/scale.h"

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  if (command_line.Has("font-height")) {
    int32_t points = 0;
    if (!platform::StringToInt32(command_line.Value("font-height"), &points)) return -1;
    return -installer::ScaledFontHeight(points);
  }
  return static_cast<int>(std::lround(installer::GetDeviceScaleFactor() * 1000.0));
}
