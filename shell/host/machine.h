// The machine the program works on, opened before anything is shown. Two
// forms are told apart by what the directory holds:
// - a machine directory: the registry as REGEDIT4 text (registry.reg) and the
//   drive folders drive_c, drive_d, ...;
// - the root of a Windows 95 drive C: (a mounted partition, or a copy of
//   one): MSDOS.SYS, and a Windows directory (WinDir of its [Paths], else
//   C:\WINDOWS) holding the registry file SYSTEM.DAT. Other drives are the
//   folders given with --drive.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/result/result.h"
#include "shell/backup/sha256.h"

class RegistryStore;
class RegistryTree;
namespace creg {
class SystemDatFile;
}

namespace host {

// A drive letter and the folder that is that drive (--drive D:=PATH).
using DriveFolder = std::pair<char, std::filesystem::path>;

class Machine final {
 public:
  // Checks the directory, opens (locks and loads) DIR/registry.reg, and binds
  // the registry functions and the drive letters to them. On failure returns a
  // message that names the path, having changed nothing. `option_hint` is how
  // the user names another directory ("--machine DIR").
  // A drive C: root is opened instead when DIR holds no registry.reg but
  // MSDOS.SYS: its SYSTEM.DAT is locked, checked and loaded, C: is DIR and
  // `drives` are the other letters.
  static Result<std::unique_ptr<Machine>> open(const std::filesystem::path& dir,
                                               const std::string& option_hint,
                                               const std::vector<DriveFolder>& drives = {});

  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Writes the registry if it changed.
  Result<void> flush();
  // Writes and unlocks the registry and unbinds it; it is unbound even when
  // the write fails.
  Result<void> close();

  // What the registry's writes could not keep and the user must be told
  // (see SystemDatFile::takeNotices); also after close().
  std::vector<std::string> takeNotices();

  const std::filesystem::path& directory() const { return m_dir; }
  RegistryStore& store();
  // What was found, for the user: "a machine directory" or "a Windows 95
  // drive C: (C:\WINDOWS\SYSTEM.DAT, hardware profiles 0001, 0002)".
  const std::string& description() const { return m_description; }
  bool isWindowsDrive() const { return m_systemDat != nullptr; }
  // On a Windows 95 drive, its SYSTEM.DAT and the file's Windows path
  // (C:\WINDOWS\SYSTEM.DAT say); nothing on a machine directory.
  creg::SystemDatFile* systemDat() { return m_systemDat.get(); }
  const std::string& systemDatWindowsPath() const { return m_systemDatWindowsPath; }
  // The SHA-256 of SYSTEM.DAT as it is on the disk now; empty on a machine
  // directory.
  std::string systemDatDigest() const;
  // The fingerprint of a state of the registry for the run's record, of the
  // kind given: of the tree as the registry file would hold it.
  std::string registryDigest(const RegistryTree& tree, backup::RegistryFingerprint kind) const;

 private:
  Machine(std::filesystem::path dir, std::unique_ptr<RegistryStore> store);
  Machine(std::filesystem::path dir, std::unique_ptr<creg::SystemDatFile> systemDat,
          std::string description);
  static Result<std::unique_ptr<Machine>> openDrive(const std::filesystem::path& dir,
                                                    const std::vector<DriveFolder>& drives);

  std::filesystem::path m_dir;
  std::unique_ptr<RegistryStore> m_store;
  std::unique_ptr<creg::SystemDatFile> m_systemDat;
  std::string m_description = "a machine directory";
  std::vector<std::string> m_notices;
  std::string m_systemDatWindowsPath;
};

}  // namespace host
