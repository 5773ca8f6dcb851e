// Runs the distribution-parameter reader the way the installer does, in a process of its
// own, so tests can give it a real command line and a real (tagged) file of its own.
//
//   distrib_probe.exe [--registry-key=<key under HKCU>] [--distr-info-params=<text>]
//       Runs CreateJsonFromDistribParams; exit code 1 when it wrote "distrib_info", else 0.
//   distrib_probe.exe --read-tag=<path>
//       Prints the tag text of <path> to standard output; exit code 0 with a tag, 3 without.
#include <windows.h>

#include <cstdio>

#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "platform/command_line.h"

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  if (command_line.Has("read-tag")) {
    const std::string tag = installer::ReadTag(command_line.Value("read-tag"));
    fwrite(tag.data(), 1, tag.size(), stdout);
    fflush(stdout);
    return tag.empty() ? 3 : 0;
  }
  if (command_line.Has("registry-key")) {
    installer::SetBrowserRegistryKeyPathForTesting(command_line.Value("registry-key"));
  }
  installer::DistribInfoParams params;
  return params.CreateJsonFromDistribParams() ? 1 : 0;
}
