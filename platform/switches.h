// Names of every command-line switch the installer knows.
//
// Switch names are narrow, lower case and carry no prefix ("--", "-" or "/" are removed when
// a command line is parsed). Most switches given to the installer are passed on unchanged to
// the browser setup program, so the installer reads only some of those listed here and
// writes others into the command lines it builds (the setup program's and the elevated
// restart's).
#ifndef PLATFORM_SWITCHES_H_
#define PLATFORM_SWITCHES_H_

namespace installer {
namespace switches {

// Brand and partner configuration.
inline constexpr char kBrandName[] = "brand-name";
inline constexpr char kBrandPackage[] = "brand-package";
inline constexpr char kPartnerPackage[] = "partner-package";
inline constexpr char kOverridePartnerPackage[] = "override-partner-package";
inline constexpr char kInstallerData[] = "installerdata";
inline constexpr char kClidsFile[] = "clids-file";
inline constexpr char kClidsSearchbandFile[] = "clids-searchband-file";
inline constexpr char kDistrInfoParams[] = "distr-info-params";
inline constexpr char kDistrInfoFile[] = "distr-info-file";

// Choices of the user (or of a deployment tool).
inline constexpr char kMakeBrowserDefaultAfterImport[] = "make-browser-default-after-import";
inline constexpr char kSendStatistics[] = "send-statistics";

// How the installation runs.
inline constexpr char kSilent[] = "silent";
// Expanded into `kSilent` and `kUacEnabled` whenever a command line is parsed.
inline constexpr char kSemiSilent[] = "semi-silent";
inline constexpr char kUacEnabled[] = "uac-enabled";
inline constexpr char kSystemLevel[] = "system-level";
inline constexpr char kProgramFilesInstallation[] = "program-files-installation";
inline constexpr char kShowUacAtBrowserStart[] = "show-uac-at-browser-start";
inline constexpr char kDisableUac[] = "disable-uac";
inline constexpr char kProgressWindow[] = "progress-window";
inline constexpr char kVerboseLogging[] = "verbose-logging";
inline constexpr char kDoNotLaunchBrowser[] = "do-not-launch-browser";

// Between the installer's own processes.
inline constexpr char kRunAsAdmin[] = "run-as-admin";
inline constexpr char kParentInstallerProcessId[] = "parent-installer-process-id";
inline constexpr char kSetupCmdLine[] = "setup-cmd-line";
// The elevated run's 32 hexadecimal digits, which name its events.
inline constexpr char kElevatedRunId[] = "elevated-run-id";
// The master's handle (decimal value) of the section that carries the delayed parameters.
inline constexpr char kDelayedParamsHandle[] = "delayed-params-handle";
inline constexpr char kSpawnedInProtectedDir[] = "spawned_in_protected_dir";
inline constexpr char kCheckTheInterface[] = "check-the-interface";

// Timings and findings reported to the setup program.
inline constexpr char kHistogramDownloadTime[] = "histogram-download-time";
inline constexpr char kOkButtonPressedTime[] = "ok-button-pressed-time";
inline constexpr char kInstallStartTimeNoUac[] = "install-start-time-no-uac";
inline constexpr char kTheInterfaceAvailability[] = "the-interface-availability";
inline constexpr char kVariationsUpdatePath[] = "variations-update-path";
inline constexpr char kServerConfigBundlePath[] = "server-config-bundle-path";
inline constexpr char kSource[] = "source";

// Switches that ask the setup program for something other than an installation. The
// installer never restarts itself elevated for them; the first one present, in this order,
// is the one it names in the log. The table ends with a null entry.
inline constexpr const char* kNonInstallSwitches[] = {
    "update-setup-exe",
    "show-eula",
    "configure-user-settings",
    "register-dev-chrome",
    "register-browser-browser",
    "rename-browser-exe",
    "on-os-upgrade",
    "fake-rename-zorvin-internet",
    "patch",
    "reenable-autoupdates",
    "simulate-crash",
    "delete-old-versions",
    "set-as-default-browser",
    "pttw1",
    "pttw0",
    nullptr,
};

}  // namespace switches
}  // namespace installer

#endif  // PLATFORM_SWITCHES_H_
