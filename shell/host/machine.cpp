#include "shell/host/machine.h"

#include <system_error>
#include <utility>

#include "platform/fs/drives.h"
#include "platform/fs/windows_directory.h"
#include "platform/registry/regedit4_layout.h"
#include "platform/registry/registry_store.h"
#include "platform/systemdat/system_dat_file.h"
#include "platform/text/ascii.h"
#include "shell/backup/sha256.h"

namespace host {

namespace {

// "the machine directory DIR <what> OPTION_HINT"
Error machineError(const std::filesystem::path& dir, const char* what,
                   const std::string& option_hint) {
  std::string message = "the machine directory ";
  message += dir.string();
  message += what;
  message += option_hint;
  return Error{std::move(message)};
}

}  // namespace

Result<std::unique_ptr<Machine>> Machine::open(const std::filesystem::path& dir,
                                               const std::string& option_hint,
                                               const std::vector<DriveFolder>& drives) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    return machineError(dir, " does not exist; name one with ", option_hint);
  const auto registry = dir / "registry.reg";
  if (!std::filesystem::exists(registry, ec)) {
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      if (ascii::equalsIgnoringCase(entry.path().filename().string(), "MSDOS.SYS"))
        return openDrive(dir, drives);
    }
    return machineError(dir,
                        " is neither a machine directory (no registry.reg) nor a Windows 95 "
                        "drive C: (no MSDOS.SYS); name another with ",
                        option_hint);
  }

  auto store = RegistryStore::open(registry);
  if (!store) return store.failure();

  SetActiveRegistry(store.value().get());
  setMachineDirectory(dir);
  return std::unique_ptr<Machine>(new Machine(dir, std::move(store).value()));
}

// The drive letters are bound first, as the Windows directory is read from
// C:\MSDOS.SYS and may lie on another drive; they are unbound again when
// the drive cannot be used.
Result<std::unique_ptr<Machine>> Machine::openDrive(const std::filesystem::path& dir,
                                                    const std::vector<DriveFolder>& drives) {
  setMachineDirectory({});
  clearDriveFolders();
  setDriveFolder('c', dir);
  for (const auto& [letter, folder] : drives) setDriveFolder(letter, folder);
  auto fail = [](std::string message) {
    clearDriveFolders();
    return Error{std::move(message)};
  };
  const std::string windows = windowsDirectory();
  const char letter = ascii::toUpper(windows[0]);
  bool given = letter == 'C';
  for (const auto& drive : drives) given = given || ascii::toUpper(drive.first) == letter;
  if (!given)
    return fail("the Windows directory " + windows + " named in " + (dir / "MSDOS.SYS").string() +
                " is on drive " + std::string(1, letter) +
                ":, which was not given; give it with --drive " + std::string(1, letter) +
                ":=PATH");
  const std::string registryPath = windows + "\\SYSTEM.DAT";
  const ResolvedPath found = resolveWindowsPath(registryPath, LastComponent::Follow);
  if (!found.ok() || !found.exists)
    return fail("the Windows 95 drive " + dir.string() + " has no " + registryPath +
                " (the Windows directory is WinDir in [Paths] of MSDOS.SYS, else C:\\WINDOWS)");
  auto systemDat = creg::SystemDatFile::open(found.host);
  if (!systemDat) return fail(systemDat.error());
  std::string description = "a Windows 95 drive C: (" + registryPath;
  const auto& profiles = systemDat.value()->profiles();
  for (std::size_t i = 0; i < profiles.size(); ++i)
    description += (i == 0 ? ", hardware profiles " : ", ") + profiles[i];
  description += ")";
  SetActiveRegistry(&systemDat.value()->store());
  std::unique_ptr<Machine> machine(
      new Machine(dir, std::move(systemDat).value(), std::move(description)));
  machine->m_systemDatWindowsPath = registryPath;
  return machine;
}

Machine::Machine(std::filesystem::path dir, std::unique_ptr<RegistryStore> store)
    : m_dir(std::move(dir)), m_store(std::move(store)) {}

Machine::Machine(std::filesystem::path dir, std::unique_ptr<creg::SystemDatFile> systemDat,
                 std::string description)
    : m_dir(std::move(dir)),
      m_systemDat(std::move(systemDat)),
      m_description(std::move(description)) {}

Machine::~Machine() { (void)close(); }

std::string Machine::registryDigest(const RegistryTree& tree,
                                    backup::RegistryFingerprint kind) const {
  const bool ofTree = kind == backup::RegistryFingerprint::Tree;
  if (!m_systemDat)
    return ofTree ? backup::registryDigest(tree)
                  : backup::registryTextDigest(tree, m_store->layout());
  // A tree the file cannot hold has a fingerprint no start will match.
  auto written = m_systemDat->asWritten(tree);
  if (!written) return "unwritable";
  if (ofTree) return backup::registryDigest(written.value());
  // Earlier versions fingerprinted a drive's registry by its text with both
  // roots in sections of their own.
  Regedit4Layout both;
  both.noteListed(RootKey::LocalMachine);
  both.noteListed(RootKey::CurrentConfig);
  return backup::registryTextDigest(written.value(), both);
}

std::string Machine::systemDatDigest() const {
  if (!m_systemDat) return {};
  const auto& bytes = m_systemDat->bytes();
  return backup::sha256Hex(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

RegistryStore& Machine::store() { return m_systemDat ? m_systemDat->store() : *m_store; }

Result<void> Machine::flush() {
  if (m_systemDat) return m_systemDat->flush();
  if (!m_store) return {};
  return m_store->flush();
}

std::vector<std::string> Machine::takeNotices() {
  if (m_systemDat)
    for (auto& notice : m_systemDat->takeNotices()) m_notices.push_back(std::move(notice));
  return std::exchange(m_notices, {});
}

Result<void> Machine::close() {
  if (m_systemDat) {
    auto closed = m_systemDat->close();
    for (auto& notice : m_systemDat->takeNotices()) m_notices.push_back(std::move(notice));
    if (ActiveRegistry() == &m_systemDat->store()) SetActiveRegistry(nullptr);
    m_systemDat.reset();
    clearDriveFolders();
    return closed;
  }
  if (!m_store) return {};
  auto closed = m_store->close();
  if (ActiveRegistry() == m_store.get()) SetActiveRegistry(nullptr);
  m_store.reset();
  return closed;
}

}  // namespace host
