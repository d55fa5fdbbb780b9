// One machine in both forms the program opens, made from one description (a
// machine directory), and both forms rendered as texts that compare.
//
// The drive form of a machine directory: the files of drive_c/ are the drive
// C: root, those of drive_d/ the folder given with --drive D:=, and
// registry.reg becomes WINDOWS\SYSTEM.DAT (written by the CREG generator in
// the style Windows 95 keeps, packed with checksums), holding
// HKEY_LOCAL_MACHINE with HKEY_CURRENT_CONFIG laid over every hardware
// profile HKLM\Config\NNNN of the description (0001 when it has none).
//
// The same mapping compares the registries afterwards: the directory form's
// HKEY_CURRENT_CONFIG stands for each profile of the drive. The directory
// form is rendered as its HKEY_LOCAL_MACHINE with its HKEY_CURRENT_CONFIG laid
// over each of those profiles, the drive form as the HKEY_LOCAL_MACHINE of
// its SYSTEM.DAT; both in the REGEDIT4 store's layout. A removal from
// HKEY_CURRENT_CONFIG thus has to be gone from every profile of the drive,
// and a profile's own keys have to stay where the directory form keeps them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/machine_snapshot.h"
#include "tests/support/temp_dir.h"

namespace e2e {

class MachineForms {
 public:
  // The demo machine, its registry text changed by `edit`, in both forms.
  explicit MachineForms(const std::function<void(std::string& registry)>& edit = {});

  const std::filesystem::path& directory() const { return m_directory; }
  const std::filesystem::path& drive() const { return m_driveC; }
  const std::vector<std::string>& profiles() const { return m_profiles; }

  // The program's arguments for each form, text mode.
  std::vector<std::string> directoryArgs() const;
  std::vector<std::string> driveArgs() const;

  // The registry of each form as comparable text (see above); a SYSTEM.DAT
  // that is missing or not sound gives a text that says so.
  std::string directoryRegistry() const;
  std::string driveRegistry() const;

  // The files and folders of drives C: and D: with their modes and bytes,
  // named "C:/..." and "D:/...", the drive form's SYSTEM.DAT and either
  // form's backups left out.
  Snapshot directoryDrives() const;
  Snapshot driveDrives() const;

  // The newest complete backup of each form: its files with their modes and
  // bytes, the manifest without its time of creation and without the
  // registry's fingerprints, which are of the registry file in its own form
  // (REGEDIT4 text or SYSTEM.DAT). Empty without a backup.
  Snapshot directoryBackup() const;
  Snapshot driveBackup() const;

  // What the program wrote, with the paths of either form replaced by the
  // same words, the times in backup names and listings taken out, and the
  // line that tells which form was found left out: "uinq76: the machine ...
  // is a Windows 95 drive C: (...)" is said for the drive form only, by
  // design.
  std::string normalised(const std::string& output) const;

 private:
  test_support::TempDir m_temp{"uinq76-forms"};
  std::filesystem::path m_directory;
  std::filesystem::path m_driveC;
  std::filesystem::path m_driveD;
  std::vector<std::string> m_profiles;
};

// Drops the sections of a REGEDIT4 text whose key starts with `prefix` (for
// example "HKEY_LOCAL_MACHINE\Config\0002"), the key itself and its subkeys.
void dropKeys(std::string& registry, const std::string& prefix);

// The first line where the two texts differ, shown from each, or an empty
// text when they are the same.
std::string firstDifferentLine(const std::string& a, const std::string& b);

// The manifest's last line of the newest complete backup of `machine`, or an
// empty text.
std::string lastProgress(const std::filesystem::path& machine);

}  // namespace e2e
