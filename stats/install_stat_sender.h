// Extended install statistics: the named variables of one installation and the URL that
// carries them with each install event.
//
// `InstallStatSender` collects variables (installer kind and version, brand, partner,
// identifiers, old and new browser version, this run's "ui") and turns every `InstallEvent`
// into one extended-statistics URL holding all of them; the caller queues that URL with
// `AsyncHttpRequests::Post`. The variables are handed to the browser setup program and to
// an elevated installer through the registry value "install_stat" (`Save`), which the next
// sender reloads at construction and the lite and full installers remove at destruction.
//
// Nothing here fails: a missing registry value, file or version leaves its variable empty,
// and a value that cannot be escaped is sent empty. Setters, `HasOldVersion`, `Save` and
// `Send` may be called from different threads (the install thread and the window's
// thread); they are serialised by one lock, and `Send` works on a copy.
#ifndef STATS_INSTALL_STAT_SENDER_H_
#define STATS_INSTALL_STAT_SENDER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/string_map.h"
#include "platform/sync.h"
#include "stats/install_event.h"

namespace installer {

// Variable name -> value, in byte order of the names.
using StatVariables = platform::StringMap<std::wstring>;

// Kinds of installer (`installer_kind`); -1 is "not set".
inline constexpr int32_t kInstallerKindUnset = -1;
inline constexpr int32_t kInstallerKindLite = 0;
inline constexpr int32_t kInstallerKindFull = 1;
inline constexpr int32_t kInstallerKindUpdater = 2;
inline constexpr int32_t kInstallerKindService = 3;
// The target kind this installer passes; kind 3 ("hips") keeps no variables at all.
inline constexpr int32_t kTargetKindBrowser = 0;
inline constexpr int32_t kTargetKindHips = 3;

// The registry value that carries the variables between processes.
inline constexpr char kInstallStatValue[] = "install_stat";

// What the sender reads and writes outside the process. The default reaches the registry
// value store, named kernel objects, the roaming application-data folder and the own
// executable's version resource; tests derive from it and replace single operations.
class InstallStatEnvironment {
 public:
  virtual ~InstallStatEnvironment();

  // The registry value store of the browser key.
  virtual std::wstring ReadRegistryString(std::string_view name);
  virtual void StoreRegistryString(std::string_view name, const std::wstring& value);
  virtual void RemoveRegistryValue(std::string_view name);
  // True when an event object of that name exists (it opens for SYNCHRONIZE, or exists
  // but refuses that access).
  virtual bool EventExists(const std::wstring& name);
  // "<roaming application data>\Zorvin\ui"; empty when the folder is unknown.
  virtual std::wstring UiFilePath();
  // Version string of the running executable ("0.0.0.0" when it has none).
  virtual std::wstring OwnVersion();
};

// Name of the kinds in the URL: installer kinds "lite", "full", "updater", "service";
// target kinds "" (0), "mini", "service", "hips", "unknown" (4); any other value in decimal.
std::wstring InstallerKindName(int32_t installer_kind);
std::wstring TargetKindName(int32_t target_kind);

// The "install_stat" text: for each variable, key, line feed, value, line feed. A line feed
// inside a key or value would shift every later pair on reload, so it is saved as a space.
std::wstring SerializeStatVariables(const StatVariables& variables);
// Sets every complete key/value pair of a saved text into `variables`; pairs with an empty
// key, and a key without its value line, are skipped.
void ParseStatVariables(std::wstring_view text, StatVariables* variables);

// Event name that a successful installer launch with this command line leaves behind:
// one surrounding pair of double quotes dropped (each side when present), "\" replaced by
// "!", lower case, prefixed with "Global\". Empty when the command line is shorter than 3.
std::wstring LaunchEventName(std::wstring_view command_line);

// The `ui` value from the content of the ui file: UTF-16LE text with a byte-order mark,
// otherwise bytes (a UTF-8 byte-order mark skipped, valid UTF-8 decoded, anything else
// widened byte by byte); then one surrounding pair of braces removed.
std::wstring UiValueFromFileContent(std::string_view bytes);
// The `ui` value of the file at `path`; empty when it is missing, unreadable or larger
// than 64 KiB.
std::wstring ReadUiValue(const std::wstring& path);

class InstallStatSender {
 public:
  // Builds the variables: the initial ones, then those saved in "install_stat", then
  // `launched`, `ui`, `old_ver`, the version (`lite_ver`, or `ver` for the updater) and
  // `installer_type`. With target kind 3 nothing at all is gathered. `environment` may be
  // null for the system one.
  InstallStatSender(int32_t target_kind, int32_t installer_kind,
                    const StatVariables& initial_variables = StatVariables(),
                    std::unique_ptr<InstallStatEnvironment> environment = nullptr);
  // The lite and the full installer remove "install_stat".
  virtual ~InstallStatSender();
  InstallStatSender(const InstallStatSender&) = delete;
  InstallStatSender& operator=(const InstallStatSender&) = delete;

  // The URL that reports `event` with every variable (logged under "GetQueryUrl"). The
  // event's own keys win over variables of the same name. Never fails.
  virtual std::wstring Send(const InstallEvent& event);

  // Each inserts or replaces one variable; narrow values are widened with
  // `platform::WidenUtf8` (UTF-8 when they are UTF-8, else byte by byte).
  void SetBrandId(std::string_view value);
  void SetPartnerId(std::string_view value);
  void SetNewVersion(std::wstring_view value);
  void SetInstallType(std::string_view value);
  void SetBannerId(std::string_view value);
  void SetDistrZorvinUid(std::string_view value);
  void SetZorvinUid(std::string_view value);

  // True when `old_ver` is present and not empty: an older browser is installed.
  bool HasOldVersion() const;

  // Writes every variable to "install_stat", for the setup program and an elevated copy.
  void Save();

  // A copy of the variables as they stand.
  StatVariables Variables() const;

  int32_t target_kind() const { return target_kind_; }
  int32_t installer_kind() const { return installer_kind_; }

 private:
  void SetVariable(const char* key, std::wstring value);
  void Gather(const StatVariables& initial_variables);

  const int32_t target_kind_;
  const int32_t installer_kind_;
  std::unique_ptr<InstallStatEnvironment> environment_;
  mutable platform::CriticalLock lock_;
  StatVariables variables_;  // guarded by lock_
};

}  // namespace installer

#endif  // STATS_INSTALL_STAT_SENDER_H_
