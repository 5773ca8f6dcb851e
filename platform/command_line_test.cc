#include "platform/command_line.h"

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/switches.h"

namespace installer {
namespace {

using Switches = CommandLine::SwitchMap;

struct ParseCase {
  const wchar_t* text;
  const wchar_t* program;
  Switches switches;
};

TEST(CommandLineTest, ParsesProgramAndSwitches) {
  const ParseCase cases[] = {
      // The three prefixes and any letter case give one switch.
      {L"setup.exe /SILENT", L"setup.exe", {{"silent", L""}}},
      {L"setup.exe -silent", L"setup.exe", {{"silent", L""}}},
      {L"setup.exe --silent", L"setup.exe", {{"silent", L""}}},
      {L"setup.exe --Brand-NAME=ZorvinBeta", L"setup.exe", {{"brand-name", L"ZorvinBeta"}}},
      // Split at the first equals sign only; the last of two values wins.
      {L"setup.exe --brand-name=a=b", L"setup.exe", {{"brand-name", L"a=b"}}},
      {L"setup.exe --x=1 --x=2", L"setup.exe", {{"x", L"2"}}},
      {L"setup.exe /a= -b", L"setup.exe", {{"a", L""}, {"b", L""}}},
      // "--" is tried before "-": one dash more stays in the name.
      {L"setup.exe ---x", L"setup.exe", {{"-x", L""}}},
      // Loose arguments and switches without a name vanish.
      {L"setup.exe loose --a other", L"setup.exe", {{"a", L""}}},
      {L"setup.exe -- / - --=v --b", L"setup.exe", {{"b", L""}}},
      // Quoted program and values; Windows' backslash rules.
      {L"\"C:\\Program Files\\Zorvin\\setup.exe\" --a", L"C:\\Program Files\\Zorvin\\setup.exe",
       {{"a", L""}}},
      {L"setup.exe \"--path=C:\\a b\\\\\"", L"setup.exe", {{"path", L"C:\\a b\\"}}},
      {L"setup.exe --path=\"C:\\a b\\\\\"", L"setup.exe", {{"path", L"C:\\a b\\"}}},
      {L"setup.exe --q=\"say \\\"hi\\\"\"", L"setup.exe", {{"q", L"say \"hi\""}}},
      {L"setup.exe --p=a\\\\b", L"setup.exe", {{"p", L"a\\\\b"}}},
      {L"setup.exe \"--p=a\\\\\\\"b\"", L"setup.exe", {{"p", L"a\\\"b"}}},
      {L"setup.exe --p=C:\\dir\\", L"setup.exe", {{"p", L"C:\\dir\\"}}},
      // Tabs separate arguments too.
      {L"setup.exe\t--a\t--b=1", L"setup.exe", {{"a", L""}, {"b", L"1"}}},
      // Unicode white space around the whole line and around each argument is trimmed.
      {L"\u3000 setup.exe --a \u00A0", L"setup.exe", {{"a", L""}}},
      {L"setup.exe \"\u2003--x=1\u205F\"", L"setup.exe", {{"x", L"1"}}},
      {L"\"\u00A0setup.exe\u00A0\" --a", L"setup.exe", {{"a", L""}}},
      // A value keeps inner white space and its own letter case.
      {L"setup.exe \"--v=A\u00A0B\"", L"setup.exe", {{"v", L"A\u00A0B"}}},
      // Names are 8-bit text, lower-cased; a name with a wider character is no switch, so it
      // can neither become another switch ("\u0141" would narrow to "A", "\u013D" to "=")
      // nor cut the line ("\u0100" would narrow to NUL).
      {L"setup.exe --\u00C9T\u00E9=1", L"setup.exe", {{"\xC9t\xE9", L"1"}}},
      {L"setup.exe --\u0141\u0162=1 --silent\u013Dx --brand-name\u0100 --b=\u0100",
       L"setup.exe", {{"b", L"\u0100"}}},
      // Nothing at all.
      {L"", L"", {}},
      {L" \t\u3000\u2028 ", L"", {}},
      {L"\"\" --a", L"", {{"a", L""}}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text: " << c.text);
    CommandLine command_line(c.text);
    EXPECT_EQ(c.program, command_line.ProgramPath());
    EXPECT_EQ(c.switches, command_line.switches());
  }
}

TEST(CommandLineTest, SemiSilentImpliesSilentAndUacEnabled) {
  const wchar_t* texts[] = {
      L"setup.exe --semi-silent",
      L"setup.exe /SEMI-SILENT",
      L"setup.exe --semi-silent --silent=x",
  };
  for (const wchar_t* text : texts) {
    CommandLine command_line(text);
    EXPECT_TRUE(command_line.Has(switches::kSemiSilent)) << text;
    EXPECT_TRUE(command_line.Has(switches::kSilent)) << text;
    EXPECT_TRUE(command_line.Has(switches::kUacEnabled)) << text;
    EXPECT_EQ(L"", command_line.Value(switches::kSilent)) << text;
  }
  // Also for a command line that travelled as the value of another switch.
  CommandLine outer(L"lite_installer.exe --run-as-admin \"--setup-cmd-line=fake_browser_arc "
                    L"--semi-silent --brand-name=x\"");
  EXPECT_FALSE(outer.Has(switches::kSilent));
  CommandLine inner(outer.Value(switches::kSetupCmdLine));
  EXPECT_EQ(L"fake_browser_arc", inner.ProgramPath());
  EXPECT_TRUE(inner.Has(switches::kSilent));
  EXPECT_TRUE(inner.Has(switches::kUacEnabled));
  EXPECT_EQ(L"x", inner.Value(switches::kBrandName));

  CommandLine plain(L"setup.exe --silent");
  EXPECT_FALSE(plain.Has(switches::kUacEnabled));
}

TEST(CommandLineTest, LookupIgnoresLetterCaseOfTheName) {
  CommandLine command_line(L"setup.exe --Brand-Name=Zorvin --distr-info-params=a\u0141b");
  EXPECT_TRUE(command_line.Has("brand-name"));
  EXPECT_TRUE(command_line.Has("BRAND-NAME"));
  EXPECT_FALSE(command_line.Has("brand"));
  EXPECT_FALSE(command_line.Has("--brand-name"));
  EXPECT_EQ(L"Zorvin", command_line.Value("BRAND-name"));
  EXPECT_EQ(L"", command_line.Value("absent"));
  EXPECT_EQ("", command_line.NarrowValue("absent"));
  // Narrowing keeps the low 8 bits: U+0141 becomes 0x41.
  EXPECT_EQ("aAb", command_line.NarrowValue("distr-info-params"));
}

struct QuoteCase {
  const wchar_t* argument;
  const wchar_t* quoted;
};

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
  const QuoteCase cases[] = {
      {L"", L""},
      {L"plain", L"plain"},
      {L"a=b&c", L"a=b&c"},
      {L"a b", L"\"a b\""},
      {L"a\tb", L"\"a\tb\""},
      {L"C:\\a b\\", L"\"C:\\a b\\\\\""},
      {L"C:\\dir", L"\"C:\\dir\""},
      {L"C:\\dir\\", L"\"C:\\dir\\\\\""},
      {L"a\\\\b", L"\"a\\\\b\""},
      {L"a\\\\\\", L"\"a\\\\\\\\\\\\\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"\"", L"\"\\\"\""},
      // Other white space does not split arguments and needs no quotes.
      {L"a\u00A0b", L"a\u00A0b"},
  };
  for (const QuoteCase& c : cases) {
    EXPECT_EQ(c.quoted, QuoteCommandLineArgument(c.argument)) << c.argument;
  }
}

TEST(CommandLineTest, PrintsProgramThenSwitchesInNameOrder) {
  CommandLine command_line;
  command_line.SetProgramPath(L"C:\\Program Files\\setup.exe");
  command_line.Put("verbose-logging");
  command_line.Put("brand-name", "zorvin");
  command_line.Put("distr-info-file", L"C:\\a b\\");
  command_line.Put("empty", L"");
  EXPECT_EQ(L"\"C:\\Program Files\\setup.exe\" --brand-name=zorvin "
            L"--distr-info-file=\"C:\\a b\\\\\" --empty --verbose-logging",
            command_line.Print());

  // Without a program the text starts with the space of the first switch.
  CommandLine no_program;
  no_program.Put("run-as-admin");
  EXPECT_EQ(L" --run-as-admin", no_program.Print());
  EXPECT_EQ(L"", CommandLine().Print());

  // Loose arguments do not survive a parse and print cycle.
  EXPECT_EQ(L"setup.exe --a --b", CommandLine(L"setup.exe one --b two --a three").Print());
  // A narrow value is widened as UTF-8 where it is UTF-8, else byte by byte.
  command_line.Put("brand-name", "\xC5\x81\xC3\xA9");
  EXPECT_EQ(L"\u0141\u00E9", command_line.Value("brand-name"));
  command_line.Put("brand-name", "\xC5\xE9");
  EXPECT_EQ(L"\u00C5\u00E9", command_line.Value("brand-name"));
}

TEST(CommandLineTest, PrintedValuesParseBackUnchanged) {
  const wchar_t* values[] = {
      L"plain",          L"C:\\a b\\",         L"C:\\dir\\",        L"\\\\server\\share\\",
      L"say \"hi\"",     L"a\\\"b",            L"a\\\\\"b\\\\",     L"\"",
      L"\\",             L"tab\there",         L"x=y=z",            L" lead-space-kept",
      L"trail\u3000",
      L"--looks-like-a-switch", L"fake_browser_arc --silent \"--p=C:\\x y\\\\\"",
  };
  for (const wchar_t* value : values) {
    CommandLine original;
    original.SetProgramPath(L"C:\\Program Files\\Zorvin\\setup.exe");
    original.Put("value", value);
    original.Put("other", L"1");
    std::wstring printed = original.Print();
    CommandLine parsed(printed);
    EXPECT_EQ(original.ProgramPath(), parsed.ProgramPath()) << printed;
    // Parsing trims each whole argument, so trailing white space of a value is the one
    // thing lost (leading white space sits after the "=").
    std::wstring expected(value);
    while (!expected.empty() && IsCommandLineWhitespace(expected.back())) expected.pop_back();
    EXPECT_EQ(expected, parsed.Value("value")) << printed;
    EXPECT_EQ(L"1", parsed.Value("other")) << printed;
    EXPECT_EQ(2u, parsed.switches().size()) << printed;
  }
  // A name with blanks and quotes (from a quoted argument) prints as one argument too, and
  // one that ends in white space keeps it.
  CommandLine odd(L"setup.exe \"--a \\\"b=c d\" --e \"--f =\" \"--g\u00A0=\"");
  ASSERT_EQ(1u, odd.switches().count("a \"b"));
  ASSERT_EQ(1u, odd.switches().count("f "));
  ASSERT_EQ(1u, odd.switches().count("g\xA0"));
  CommandLine again(odd.Print());
  EXPECT_EQ(odd.switches(), again.switches()) << odd.Print();
  // The program is read without escapes: a trailing backslash stays one.
  for (const wchar_t* program : {L"C:\\dir\\", L"C:\\a b\\setup.exe", L"setup.exe"}) {
    CommandLine with_program;
    with_program.SetProgramPath(program);
    EXPECT_EQ(program, CommandLine(with_program.Print()).ProgramPath()) << with_program.Print();
  }
}

TEST(CommandLineTest, PutNormalisesNamesAndReplacesValues) {
  CommandLine command_line(L"setup.exe --keep=1 --drop");
  command_line.Put("--Brand-Name", "first");
  command_line.Put("/BRAND-NAME", L"second");
  command_line.Put("-Silent");
  command_line.Put("--");
  command_line.Put("wide", L"\u0416");
  command_line.Put("bytes", std::string("\xE9t\xE9"));
  EXPECT_EQ((Switches{{"brand-name", L"second"},
                      {"bytes", L"\u00E9t\u00E9"},
                      {"drop", L""},
                      {"keep", L"1"},
                      {"silent", L""},
                      {"wide", L"\u0416"}}),
            command_line.switches());

  command_line.PutFlag("DROP", false);
  command_line.PutFlag("--absent", false);
  command_line.PutFlag("--added", true);
  command_line.PutFlag("keep", true);  // a flag replaces the value
  EXPECT_EQ((Switches{{"added", L""},
                      {"brand-name", L"second"},
                      {"bytes", L"\u00E9t\u00E9"},
                      {"keep", L""},
                      {"silent", L""},
                      {"wide", L"\u0416"}}),
            command_line.switches());
}

TEST(CommandLineTest, ProgramPathIsTrimmed) {
  CommandLine command_line(L"old.exe --a");
  command_line.SetProgramPath(L" \u3000C:\\new dir\\setup.exe\t");
  EXPECT_EQ(L"C:\\new dir\\setup.exe", command_line.ProgramPath());
  EXPECT_EQ(L"\"C:\\new dir\\setup.exe\" --a", command_line.Print());
  command_line.SetProgramPath(L"");
  EXPECT_EQ(L" --a", command_line.Print());
}

TEST(CommandLineTest, CopiesAreIndependent) {
  CommandLine original(L"setup.exe --a=1");
  CommandLine copy(original);
  copy.Put("a", "2");
  copy.Put("b");
  copy.SetProgramPath(L"other.exe");
  EXPECT_EQ(L"setup.exe --a=1", original.Print());
  EXPECT_EQ(L"other.exe --a=2 --b", copy.Print());
  CommandLine assigned;
  assigned = original;
  EXPECT_EQ(original.switches(), assigned.switches());
}

TEST(CommandLineTest, WhitespaceSetIsTheUnicodeOne) {
  const wchar_t spaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                            0xA0,   0x1680, 0x180E, 0x2000, 0x2005, 0x200A, 0x200C,
                            0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (wchar_t c : spaces) EXPECT_TRUE(IsCommandLineWhitespace(c)) << static_cast<int>(c);
  const wchar_t others[] = {0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x9F, 0xA1, 0x167F,
                            0x200B, 0x200D, 0x2027, 0x202A, 0x205E, 0x2060, 0x3001, 0xFEFF, L'a'};
  for (wchar_t c : others) EXPECT_FALSE(IsCommandLineWhitespace(c)) << static_cast<int>(c);
  EXPECT_EQ(L"a \u00A0b", TrimCommandLineWhitespace(L"\u2028\t a \u00A0b\u3000\r\n"));
  EXPECT_EQ(L"", TrimCommandLineWhitespace(L"\u0085\u205F"));
}

TEST(CommandLineTest, ProcessCommandLineIsBuiltOnceForAllThreads) {
  std::vector<const CommandLine*> seen(8, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) {
      }
      seen[i] = &ProcessCommandLine();
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  for (const CommandLine* command_line : seen) EXPECT_EQ(seen[0], command_line);
  EXPECT_EQ(seen[0], &ProcessCommandLine());
  EXPECT_EQ(CommandLine(GetCommandLineW()).Print(), ProcessCommandLine().Print());
}

}  // namespace
}  // namespace installer
