// Plays the elevated child for the tests of the master's record of it.
//   fake_elevated_child.exe --go=<event> --stop=<event> --taken=<event> --mode=<mode>
// Opens the named events and waits for go or stop; stop ends it with -1. After go it
// confirms through "taken", then:
//   exit0   ends with 0          exit7   ends with 7          hang   never ends
// With --mode=deaf it waits for go only and then never ends (a child that ignores stop);
// with --mode=mute it takes the go without confirming and never ends (as another process
// that took the go would); with --mode=asleep it never looks at either event. Ends with 3 when an event cannot be opened.
#include <windows.h>

#include <string>

#include "platform/command_line.h"

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  std::string mode = command_line.NarrowValue("mode");
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, command_line.NarrowValue("go").c_str());
  HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, command_line.NarrowValue("stop").c_str());
  HANDLE taken = OpenEventA(EVENT_MODIFY_STATE, FALSE, command_line.NarrowValue("taken").c_str());
  if (go == nullptr || stop == nullptr || taken == nullptr) return 3;
  if (mode == "asleep") Sleep(INFINITE);
  if (mode == "deaf" || mode == "mute") {
    WaitForSingleObject(go, INFINITE);
    if (mode == "deaf") SetEvent(taken);
    Sleep(INFINITE);
  }
  HANDLE handles[] = {go, stop};
  DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (result != WAIT_OBJECT_0) return -1;
  SetEvent(taken);
  if (mode == "exit0") return 0;
  if (mode == "exit7") return 7;
  Sleep(INFINITE);
  return 4;
}
