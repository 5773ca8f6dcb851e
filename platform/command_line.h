// A parsed command line: the program path and an ordered map of switches.
//
// Arguments are split the way Windows splits them (CommandLineToArgvW). The first one is
// the program; every later one that starts with "--", "-" or "/" (tested in that order) is a
// switch, named by the text up to its first "=" and valued by the text after it. Names are
// narrowed to 8 bits and lower-cased (ASCII only), so /SILENT, -silent and --silent are one
// switch; a name occurs once and the last value given wins. Arguments without a prefix, and
// arguments whose name holds a character beyond 8 bits, are dropped: printing a parsed
// command line loses them.
//
// A `CommandLine` is a plain value. Every command line the installer builds (the setup
// program's, the elevated restart's, the private-folder copy's) starts as a copy of the
// process command line, is edited with `Put`/`PutFlag` and is turned back into text by
// `Print`, which quotes exactly what CommandLineToArgvW needs to give the same arguments back.
#ifndef PLATFORM_COMMAND_LINE_H_
#define PLATFORM_COMMAND_LINE_H_

#include <string>
#include <string_view>

#include "platform/string_map.h"

namespace installer {

class CommandLine {
 public:
  using SwitchMap = platform::StringMap<std::wstring>;

  // No program, no switches.
  CommandLine() = default;
  // Parses a whole command-line string (the process's, or the value of "setup-cmd-line").
  // White space around it is trimmed; an empty string gives no program and no switches.
  // When "semi-silent" is present, "silent" and "uac-enabled" are added with empty values.
  explicit CommandLine(std::wstring_view command_line);

  CommandLine(const CommandLine&) = default;
  CommandLine& operator=(const CommandLine&) = default;
  CommandLine(CommandLine&&) = default;
  CommandLine& operator=(CommandLine&&) = default;

  // Whether the switch is present; `name` is compared lower-cased (ASCII).
  bool Has(std::string_view name) const;
  // The value of the switch, empty when it is absent or has none.
  std::wstring Value(std::string_view name) const;
  // `Value` with each character narrowed to its low 8 bits.
  std::string NarrowValue(std::string_view name) const;

  // Inserts or replaces a switch. The name is lower-cased and loses a leading "--", "-" or
  // "/"; a name that is empty after that is ignored. A narrow value (a brand name from a
  // document) is widened with `platform::WidenUtf8`: UTF-8 when it is UTF-8, else byte by byte.
  void Put(std::string_view name);
  void Put(std::string_view name, std::string_view value);
  void Put(std::string_view name, std::wstring_view value);
  void Put(std::string_view name, const char* value) { Put(name, std::string_view(value)); }
  void Put(std::string_view name, const wchar_t* value) { Put(name, std::wstring_view(value)); }
  // `Put(name)` when `flag` is true; removes the switch when it is false.
  void PutFlag(std::string_view name, bool flag);

  const std::wstring& ProgramPath() const { return program_; }
  // Stores `path` with surrounding white space trimmed.
  void SetProgramPath(std::wstring_view path);

  // The quoted program, then for each switch in map order " --name", followed by "=" and
  // the quoted value when the value is not empty (or the name ends in white space, which
  // parsing would otherwise trim). An empty program prints as nothing, so the text then
  // starts with the space of the first switch.
  std::wstring Print() const;

  const SwitchMap& switches() const { return switches_; }

 private:
  void ParseArgument(std::wstring_view argument);

  std::wstring program_;
  SwitchMap switches_;
};

// The command line of this process (GetCommandLineW), parsed on first use. The first caller
// builds it while concurrent callers wait; it is never freed, so the reference stays valid
// until the process ends.
const CommandLine& ProcessCommandLine();
// The same, except on the thread that is building it right now (a fatal stop inside the
// build): null there, where waiting for the build would wait for ever.
const CommandLine* ProcessCommandLineUnlessBuilding();

// Unicode white space as the parser trims it: U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+180E, U+2000..U+200A, U+200C, U+2028, U+2029, U+202F, U+205F and U+3000.
bool IsCommandLineWhitespace(wchar_t c);
std::wstring_view TrimCommandLineWhitespace(std::wstring_view text);

// One argument quoted for CommandLineToArgvW: unchanged unless it holds a space, a tab, a
// backslash or a double quote; otherwise wrapped in double quotes, with every inner double
// quote escaped and every run of backslashes before a double quote or the end doubled.
std::wstring QuoteCommandLineArgument(std::wstring_view argument);

}  // namespace installer

#endif  // PLATFORM_COMMAND_LINE_H_
