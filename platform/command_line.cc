#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {

namespace {

constexpr std::string_view kNarrowPrefixes[] = {"--", "-", "/"};
constexpr std::wstring_view kWidePrefixes[] = {L"--", L"-", L"/"};

std::string_view StripNarrowPrefix(std::string_view name) {
  for (std::string_view prefix : kNarrowPrefixes) {
    if (name.substr(0, prefix.size()) == prefix) return name.substr(prefix.size());
  }
  return name;
}

}  // namespace

bool IsCommandLineWhitespace(wchar_t c) {
  if (c >= 0x0009 && c <= 0x000D) return true;
  if (c >= 0x2000 && c <= 0x200A) return true;
  switch (c) {
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x180E:
    case 0x200C:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return false;
  }
}

std::wstring_view TrimCommandLineWhitespace(std::wstring_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsCommandLineWhitespace(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && IsCommandLineWhitespace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring QuoteCommandLineArgument(std::wstring_view argument) {
  // A tab separates arguments exactly as a space does, so it needs quotes as well.
  if (argument.find_first_of(L" \t\\\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring quoted;
  quoted.reserve(argument.size() + 2);
  quoted.push_back(L'"');
  size_t i = 0;
  while (i < argument.size()) {
    if (argument[i] == L'\\') {
      size_t run_end = i;
      while (run_end < argument.size() && argument[run_end] == L'\\') ++run_end;
      size_t run = run_end - i;
      // CommandLineToArgvW halves a backslash run only when a double quote follows it (the
      // closing quote counts), so only such runs are doubled.
      bool before_quote = run_end == argument.size() || argument[run_end] == L'"';
      quoted.append(before_quote ? run * 2 : run, L'\\');
      i = run_end;
      continue;
    }
    if (argument[i] == L'"') quoted.push_back(L'\\');
    quoted.push_back(argument[i]);
    ++i;
  }
  quoted.push_back(L'"');
  return quoted;
}

CommandLine::CommandLine(std::wstring_view command_line) {
  std::wstring trimmed(TrimCommandLineWhitespace(command_line));
  // CommandLineToArgvW describes the current process for an empty string; an empty command
  // line has no arguments at all.
  if (!trimmed.empty()) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(trimmed.c_str(), &count);
    platform::ScopedLocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    if (argv != nullptr) {
      for (int i = 0; i < count; ++i) {
        if (i == 0) {
          SetProgramPath(argv[0]);
        } else {
          ParseArgument(argv[i]);
        }
      }
    }
  }
  if (Has(switches::kSemiSilent)) {
    Put(switches::kSilent);
    Put(switches::kUacEnabled);
  }
}

void CommandLine::ParseArgument(std::wstring_view argument) {
  std::wstring_view text = TrimCommandLineWhitespace(argument);
  size_t prefix_size = 0;
  for (std::wstring_view prefix : kWidePrefixes) {
    if (text.substr(0, prefix.size()) == prefix) {
      prefix_size = prefix.size();
      break;
    }
  }
  if (prefix_size == 0) return;  // A loose argument: not kept.
  text.remove_prefix(prefix_size);
  size_t equals = text.find(L'=');
  std::wstring_view value;
  if (equals != std::wstring_view::npos) {
    value = text.substr(equals + 1);
    text = text.substr(0, equals);
  }
  // Names are narrow: a character beyond 8 bits would lose its high bits and could become
  // another switch's name, an "=" or a NUL that cuts the printed command line. Such an
  // argument is no switch of this program.
  for (wchar_t c : text) {
    if (c > 0xFF) return;
  }
  std::string name = platform::ToLowerAscii(platform::Narrow(text));
  // A bare "--" (or "-", "/") names nothing. Keeping it would print a lone "--" into the
  // setup program's command line, which would read every switch after it as a loose
  // argument.
  if (name.empty()) return;
  switches_[name] = std::wstring(value);
}

bool CommandLine::Has(std::string_view name) const {
  return switches_.count(platform::ToLowerAscii(name)) != 0;
}

std::wstring CommandLine::Value(std::string_view name) const {
  auto it = switches_.find(platform::ToLowerAscii(name));
  return it == switches_.end() ? std::wstring() : it->second;
}

std::string CommandLine::NarrowValue(std::string_view name) const {
  return platform::Narrow(Value(name));
}

void CommandLine::Put(std::string_view name) { Put(name, std::wstring_view()); }

void CommandLine::Put(std::string_view name, std::string_view value) {
  Put(name, platform::WidenUtf8(value));
}

void CommandLine::Put(std::string_view name, std::wstring_view value) {
  std::string key(StripNarrowPrefix(platform::ToLowerAscii(name)));
  if (key.empty()) return;
  switches_[key] = std::wstring(value);
}

void CommandLine::PutFlag(std::string_view name, bool flag) {
  if (flag) {
    Put(name);
    return;
  }
  switches_.erase(std::string(StripNarrowPrefix(platform::ToLowerAscii(name))));
}

void CommandLine::SetProgramPath(std::wstring_view path) {
  program_ = std::wstring(TrimCommandLineWhitespace(path));
}

std::wstring CommandLine::Print() const {
  // The program is parsed by other rules than the arguments: everything up to the closing
  // quote, backslashes as they stand (and no file name holds a quote). So it is quoted as it
  // is, never escaped: "C:\dir\" must not come back as "C:\dir\\".
  std::wstring text = program_;
  if (text.find_first_of(L" \t\\") != std::wstring::npos) text = L'"' + text + L'"';
  for (const auto& [name, value] : switches_) {
    const std::wstring wide_name = L"--" + platform::Widen(name);
    // Parsing trims each argument, so white space at the end of a name survives only in
    // front of an "=".
    const bool with_equals = !value.empty() || IsCommandLineWhitespace(wide_name.back());
    text += L' ';
    // A name that came from a quoted argument may hold blanks or quotes itself: then the
    // whole switch is one quoted argument, or it would not parse back as one.
    if (wide_name.find_first_of(L" \t\\\"") != std::wstring::npos) {
      text += QuoteCommandLineArgument(with_equals ? wide_name + L'=' + value : wide_name);
      continue;
    }
    text += wide_name;
    if (with_equals) {
      text += L'=';
      text += QuoteCommandLineArgument(value);
    }
  }
  return text;
}

namespace {

// 0: not built, 1: being built, 2: ready. The release runtime has no std::call_once, and
// the object must never be destroyed (threads may still read it while the process ends).
std::atomic<int> g_process_command_line_state{0};
std::atomic<DWORD> g_process_command_line_builder{0};
CommandLine* g_process_command_line = nullptr;

}  // namespace

const CommandLine& ProcessCommandLine() {
  int expected = 0;
  if (g_process_command_line_state.compare_exchange_strong(expected, 1,
                                                           std::memory_order_acquire)) {
    g_process_command_line_builder.store(GetCurrentThreadId());
    g_process_command_line = new CommandLine(GetCommandLineW());
    g_process_command_line_state.store(2, std::memory_order_release);
  } else {
    while (g_process_command_line_state.load(std::memory_order_acquire) != 2) Sleep(0);
  }
  return *g_process_command_line;
}

const CommandLine* ProcessCommandLineUnlessBuilding() {
  if (g_process_command_line_state.load(std::memory_order_acquire) == 1 &&
      g_process_command_line_builder.load() == GetCurrentThreadId()) {
    return nullptr;
  }
  return &ProcessCommandLine();
}

}  // namespace installer
