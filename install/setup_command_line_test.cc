#include "install/setup_command_line.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(ElevationPromptShiftTest, CountsOnlyThePromptTimeAfterTheButton) {
  struct Case {
    int64_t start, end, button, shift;
  } cases[] = {
      {0, 0, 0, 0},          // nothing recorded
      {100, 200, 0, 0},      // button time not set
      {100, 200, 50, 100},   // prompt entirely after the press: all of it
      {100, 200, 100, 100},  // prompt starts at the press
      {100, 200, 150, 50},   // press during the prompt: the part after the press
      {100, 200, 200, 0},    // press when the prompt ends
      {100, 200, 300, 0},    // prompt before the press (shown at window start)
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.shift, ElevationPromptShift(c.start, c.end, c.button))
        << c.start << " " << c.end << " " << c.button;
  }
}

SetupCommandLineInputs MinimalInputs() {
  SetupCommandLineInputs in;
  in.setup_path = L"C:\\Temp\\jx1.tmp";
  in.brand_name = "zorvin";
  return in;
}

TEST(BuildSetupCommandLineTest, KeepsTheInstallerSwitchesAndAddsTheRunsOwn) {
  CommandLine base(L"lite_installer.exe --silent --x=1 loose");
  CommandLine cl = BuildSetupCommandLine(base, MinimalInputs());
  EXPECT_EQ(L"C:\\Temp\\jx1.tmp", cl.ProgramPath());
  EXPECT_TRUE(cl.Has("silent"));
  EXPECT_EQ(L"1", cl.Value("x"));
  EXPECT_TRUE(cl.Has("verbose-logging"));
  EXPECT_EQ(L"0", cl.Value("progress-window"));
  EXPECT_EQ(L"zorvin", cl.Value("brand-name"));
  for (const char* absent :
       {"disable-uac", "distr-info-file", "make-browser-default-after-import", "send-statistics",
        "histogram-download-time", "ok-button-pressed-time", "install-start-time-no-uac",
        "the-interface-availability", "installerdata", "clids-file", "clids-searchband-file",
        "brand-package", "partner-package", "override-partner-package",
        "show-uac-at-browser-start", "variations-update-path", "server-config-bundle-path"}) {
    EXPECT_FALSE(cl.Has(absent)) << absent;
  }
  // Printed in switch-name order, the program quoted only when it needs it.
  EXPECT_EQ(L"\"C:\\Temp\\jx1.tmp\" --brand-name=zorvin --progress-window=0 --silent "
            L"--verbose-logging --x=1",
            cl.Print());
}

TEST(BuildSetupCommandLineTest, FlagsFollowTheRunAndReplaceGivenSwitches) {
  CommandLine base(L"i.exe --send-statistics --make-browser-default-after-import --disable-uac "
                   L"--brand-name=given");
  SetupCommandLineInputs in = MinimalInputs();
  CommandLine off = BuildSetupCommandLine(base, in);
  EXPECT_FALSE(off.Has("send-statistics"));
  EXPECT_FALSE(off.Has("make-browser-default-after-import"));
  EXPECT_FALSE(off.Has("disable-uac"));
  EXPECT_EQ(L"zorvin", off.Value("brand-name"));

  in.send_statistics = true;
  in.make_default = true;
  in.disable_uac = true;
  in.show_uac_at_browser_start = true;
  in.progress_window = 0x1234;
  CommandLine on = BuildSetupCommandLine(CommandLine(L"i.exe"), in);
  EXPECT_TRUE(on.Has("send-statistics"));
  EXPECT_TRUE(on.Has("make-browser-default-after-import"));
  EXPECT_TRUE(on.Has("disable-uac"));
  EXPECT_TRUE(on.Has("show-uac-at-browser-start"));
  EXPECT_EQ(L"4660", on.Value("progress-window"));
}

TEST(BuildSetupCommandLineTest, TimesAndAvailability) {
  SetupCommandLineInputs in = MinimalInputs();
  in.download_time_us = 999999;  // under a second: not written
  EXPECT_FALSE(BuildSetupCommandLine(CommandLine(L"i.exe"), in).Has("histogram-download-time"));

  in.download_time_us = 61500000;
  in.ok_button_time = 13300000000000000;
  in.ok_button_monotonic = 5000;
  in.interface_availability = 3162990015u;
  CommandLine no_prompt = BuildSetupCommandLine(CommandLine(L"i.exe"), in);
  EXPECT_EQ(L"61", no_prompt.Value("histogram-download-time"));
  EXPECT_EQ(L"13300000000000000", no_prompt.Value("ok-button-pressed-time"));
  // No prompt end recorded: no corrected start time.
  EXPECT_FALSE(no_prompt.Has("install-start-time-no-uac"));
  EXPECT_EQ(L"3162990015", no_prompt.Value("the-interface-availability"));

  in.prompt_start = 6000;
  in.prompt_end = 9000;
  EXPECT_EQ(L"13300000000003000",
            BuildSetupCommandLine(CommandLine(L"i.exe"), in).Value("install-start-time-no-uac"));
}

TEST(BuildSetupCommandLineTest, FilesOnlyWithFilesAndOnlyWhenKnown) {
  SetupCommandLineInputs in = MinimalInputs();
  in.installer_data_path = L"C:\\T\\master_preferences";
  in.clids_path = L"C:\\T\\clids.xml";
  in.brand_package_path = L"C:\\T\\BrandFile";
  in.variations_path = L"C:\\T\\vup1.tmp";
  CommandLine without = BuildSetupCommandLine(CommandLine(L"i.exe"), in);
  EXPECT_FALSE(without.Has("installerdata"));
  EXPECT_FALSE(without.Has("brand-package"));
  // The seed path is not one of the handed-over files: it is written either way.
  EXPECT_EQ(L"C:\\T\\vup1.tmp", without.Value("variations-update-path"));

  in.with_files = true;
  CommandLine with = BuildSetupCommandLine(CommandLine(L"i.exe"), in);
  EXPECT_EQ(L"C:\\T\\master_preferences", with.Value("installerdata"));
  EXPECT_EQ(L"C:\\T\\clids.xml", with.Value("clids-file"));
  EXPECT_FALSE(with.Has("clids-searchband-file"));
  EXPECT_EQ(L"C:\\T\\BrandFile", with.Value("brand-package"));
  EXPECT_FALSE(with.Has("partner-package"));
  EXPECT_FALSE(with.Has("override-partner-package"));

  // A file that could not be written has no path, and no switch.
  in.installer_data_path = {};
  in.clids_path = {};
  CommandLine unwritten = BuildSetupCommandLine(CommandLine(L"i.exe"), in);
  EXPECT_FALSE(unwritten.Has("installerdata"));
  EXPECT_FALSE(unwritten.Has("clids-file"));
}

}  // namespace
}  // namespace installer
