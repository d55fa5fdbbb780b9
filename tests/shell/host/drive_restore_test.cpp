// --restore on a Windows 95 drive C: after a run recorded by the journal with
// three small steps of the test's own: SYSTEM.DAT comes back byte for byte
// with the deleted file, a SYSTEM.DAT changed since is named and nothing is
// changed, and a second restore (also after one cut off once SYSTEM.DAT was
// back) does no harm.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "platform/creg/creg_check.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "platform/systemdat/system_dat_file.h"
#include "platform/win32/windows.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/sha256.h"
#include "shell/host/backup_commands.h"
#include "shell/host/machine.h"
#include "shell/host/run_journal.h"
#include "tests/shell/host/three_steps.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"

namespace {

namespace fs = std::filesystem;
using test_support::readFile;

using test_steps::kTimer;
using test_steps::runStep;
using test_steps::threeSteps;

class DriveRestore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(demo::writeWin9xDrive(m_drive).has_value());
    m_systemDat = readFile(m_drive / "WINDOWS/SYSTEM.DAT");
    m_autoexec = readFile(m_drive / "AUTOEXEC.BAT");
  }

  std::unique_ptr<host::Machine> open() {
    auto opened = host::Machine::open(m_drive, "--machine DIR");
    EXPECT_TRUE(opened) << opened.error();
    return opened ? std::move(opened).value() : nullptr;
  }

  // The host's record of a run on the open drive, as the host makes it.
  std::unique_ptr<host::RunJournal> journalOn(host::Machine& machine) {
    auto journal = std::make_unique<host::RunJournal>(
        m_drive, machine.store(), threeSteps(),
        [&machine](const RegistryTree& tree, backup::RegistryFingerprint kind) {
          return machine.registryDigest(tree, kind);
        });
    journal->setRegistryFile({{machine.systemDatWindowsPath(), machine.systemDat()->path()},
                              [&machine] { return machine.systemDatDigest(); }});
    return journal;
  }

  // The three steps on the drive as the host runs them: each tick asked,
  // run, the registry saved, and then recorded.
  void uninstall() {
    auto machine = open();
    ASSERT_TRUE(machine);
    const auto journal = journalOn(*machine);
    for (int step = 1; step <= 3; ++step) {
      ASSERT_TRUE(journal->beforeMessage(nullptr, WM_TIMER, kTimer));
      runStep(step);
      const bool saved = machine->flush().ok();
      ASSERT_TRUE(saved);
      journal->afterMessage(WM_TIMER, kTimer, saved);
    }
    ASSERT_EQ(journal->state(), host::RunJournal::State::Ended);
    ASSERT_TRUE(machine->close());
    m_uninstalled = readFile(m_drive / "WINDOWS/SYSTEM.DAT");
    ASSERT_NE(m_uninstalled, m_systemDat);
    ASSERT_FALSE(fs::exists(m_drive / "AUTOEXEC.BAT"));
  }

  // --restore of the run's backup, with what it printed on each stream.
  struct Restored {
    int status = -1;
    std::string out, err;
  };
  Restored restore() {
    const auto folders = backup::listBackupFolders(m_drive);
    EXPECT_EQ(folders.size(), 1u);
    auto machine = open();
    if (!machine || folders.empty()) return {};
    Restored result;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    result.status = host::restoreBackup(*machine, folders.front().filename().string());
    EXPECT_TRUE(machine->close());
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
  }

  // Every file of the drive with its bytes, the backups with them.
  std::map<std::string, std::string> everything() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(m_drive))
      if (entry.is_regular_file())
        files[fs::relative(entry.path(), m_drive).string()] = readFile(entry.path());
    return files;
  }

  test_support::TempDir m_temp{"uinq76-drive-restore"};
  const fs::path m_drive = m_temp / "c";
  std::string m_systemDat, m_autoexec, m_uninstalled;
};

TEST_F(DriveRestore, PutsSystemDatBackByteForByteAndASecondRestoreChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(uninstall());
  fs::permissions(m_drive / "WINDOWS/SYSTEM.DAT", fs::perms(0640));
  const fs::path backup = backup::listBackupFolders(m_drive).front();
  EXPECT_EQ(readFile(backup / "registry-file"), m_systemDat);

  const Restored restored = restore();
  ASSERT_EQ(restored.status, 0) << restored.err;
  EXPECT_NE(restored.out.find("C:\\WINDOWS\\SYSTEM.DAT (the registry as before the run)"),
            std::string::npos)
      << restored.out;
  const std::string now = readFile(m_drive / "WINDOWS/SYSTEM.DAT");
  EXPECT_TRUE(now == m_systemDat) << "SYSTEM.DAT differs from the one before the run";
  EXPECT_TRUE(creg::checkFile(std::vector<std::uint8_t>(now.begin(), now.end()), "SYSTEM.DAT"));
  EXPECT_EQ(fs::status(m_drive / "WINDOWS/SYSTEM.DAT").permissions(), fs::perms(0640));
  EXPECT_EQ(readFile(m_drive / "AUTOEXEC.BAT"), m_autoexec);
  EXPECT_FALSE(fs::exists(m_drive / "WINDOWS/.SYSTEM.DAT.uinq76-tmp"));
  // The drive opens again, the product's keys back.
  {
    auto machine = open();
    ASSERT_TRUE(machine);
    HKEY key = nullptr;
    EXPECT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76\\Mixer", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  const auto before = everything();
  const Restored again = restore();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("was restored already; nothing was changed"), std::string::npos)
      << again.out;
  EXPECT_TRUE(everything() == before);
}

// Windows started from the drive and wrote SYSTEM.DAT: the file is not one
// the run wrote, and nothing is restored, not even the deleted file.
TEST_F(DriveRestore, ASystemDatChangedSinceTheRunIsNamedAndNothingIsChanged) {
  ASSERT_NO_FATAL_FAILURE(uninstall());
  {
    auto machine = open();
    ASSERT_TRUE(machine);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\*PNP0C01\\0000"), ERROR_SUCCESS);
    ASSERT_TRUE(machine->close());
  }
  const auto before = everything();
  const Restored refused = restore();
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("nothing was restored from"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("C:\\WINDOWS\\SYSTEM.DAT: changed since the uninstall"),
            std::string::npos)
      << refused.err;
  EXPECT_TRUE(everything() == before) << "the refused restore changed the drive";
}

// A restore killed after SYSTEM.DAT was back, before the deleted file was and
// before it recorded that it was done: run again, it puts back the rest.
TEST_F(DriveRestore, ARestoreCutOffAfterSystemDatIsFinishedByTheNextOne) {
  ASSERT_NO_FATAL_FAILURE(uninstall());
  const fs::path backup = backup::listBackupFolders(m_drive).front();
  test_support::writeFile(m_drive / "WINDOWS/SYSTEM.DAT", readFile(backup / "registry-file"));
  const Restored restored = restore();
  ASSERT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(readFile(m_drive / "WINDOWS/SYSTEM.DAT"), m_systemDat);
  EXPECT_EQ(readFile(m_drive / "AUTOEXEC.BAT"), m_autoexec);

  // A damaged copy is refused by its digest before anything is written.
  test_support::TempDir other{"uinq76-drive-restore"};
  const fs::path drive = other / "c";
  ASSERT_FALSE(demo::writeWin9xDrive(drive).has_value());
  fs::copy(m_drive / "backups", drive / "backups", fs::copy_options::recursive);
  std::string manifest = readFile(drive / "backups" / backup.filename() / "manifest.txt");
  manifest.erase(manifest.rfind("restored\n"));
  test_support::writeFile(drive / "backups" / backup.filename() / "manifest.txt", manifest);
  std::string copy = m_systemDat;
  copy[0x40] ^= 1;
  test_support::writeFile(drive / "backups" / backup.filename() / "registry-file", copy);
  // The drive's SYSTEM.DAT is the one the run wrote.
  test_support::writeFile(drive / "WINDOWS/SYSTEM.DAT", m_uninstalled);
  auto machine = host::Machine::open(drive, "--machine DIR");
  ASSERT_TRUE(machine) << machine.error();
  testing::internal::CaptureStderr();
  const int status = host::restoreBackup(*machine.value(), backup.filename().string());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("the copy is damaged"), std::string::npos) << err;
  ASSERT_TRUE(machine.value()->close());
  EXPECT_EQ(readFile(drive / "WINDOWS/SYSTEM.DAT"), m_uninstalled);
}

}  // namespace

namespace {

// Cut off after step 1's save, before its digest was recorded; taken up on
// the next start and stopped again before the next step's save (the user
// cancelled between ticks): SYSTEM.DAT is still the file the cut left, and
// --restore takes it for one the run wrote.
TEST_F(DriveRestore, AFileLeftByACutIsTheRunsOnceTheRunIsTakenUp) {
  {
    auto machine = open();
    ASSERT_TRUE(machine);
    const auto journal = journalOn(*machine);
    ASSERT_TRUE(journal->beforeMessage(nullptr, WM_TIMER, kTimer));
    runStep(1);
    ASSERT_TRUE(machine->flush());
    ASSERT_TRUE(machine->close());
  }
  const std::string cut = readFile(m_drive / "WINDOWS/SYSTEM.DAT");
  ASSERT_NE(cut, m_systemDat);
  {
    auto machine = open();
    ASSERT_TRUE(machine);
    const auto journal = journalOn(*machine);
    auto found = journal->findInterrupted();
    ASSERT_TRUE(found.ok()) << found.error();
    ASSERT_TRUE(found.value().has_value());
    EXPECT_EQ(found.value()->nextStep, 2);
    journal->resume(*found.value());
    EXPECT_FALSE(journal->failed());
    ASSERT_TRUE(machine->close());
  }
  EXPECT_EQ(readFile(m_drive / "WINDOWS/SYSTEM.DAT"), cut);
  const Restored restored = restore();
  ASSERT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(readFile(m_drive / "WINDOWS/SYSTEM.DAT"), m_systemDat);
}

}  // namespace
