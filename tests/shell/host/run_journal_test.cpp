// The run's record on a demo machine, with three small steps of its own: the
// backup before the first step, the manifest lines around each step, the
// states of the run, and finding a run that was cut off.
#include "shell/host/run_journal.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "platform/fs/drives.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "platform/win32/windows.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/registry_changes.h"
#include "shell/backup/restore.h"
#include "shell/backup/sha256.h"
#include "tests/shell/host/three_steps.h"
#include "tests/support/active_registry.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"

namespace {

namespace fs = std::filesystem;
using host::RunJournal;
using State = RunJournal::State;

using test_steps::kTimer;
using test_steps::runStep;
using test_steps::threeSteps;

class RunJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(demo::writeDemoMachine(m_dir.path()).has_value());
    setMachineDirectory(m_dir.path());
    auto store = RegistryStore::fromText(demo::demoRegistry());
    ASSERT_TRUE(store.ok()) << store.error();
    m_store = std::move(store).value();
    m_active.emplace(m_store.get());
  }
  void TearDown() override { setMachineDirectory({}); }

  // Delivers the tick of `step` as the host would: asked first, then run,
  // then told that it was handled and saved.
  bool tick(RunJournal& journal, int step, bool saved = true) {
    if (!journal.beforeMessage(nullptr, WM_TIMER, kTimer)) return false;
    EXPECT_EQ(journal.state(), State::Running);
    runStep(step);
    journal.afterMessage(WM_TIMER, kTimer, saved);
    return true;
  }

  backup::Manifest onlyManifest() {
    const auto folders = backup::listBackupFolders(m_dir.path());
    EXPECT_EQ(folders.size(), 1u);
    if (folders.empty()) return {};
    auto manifest = backup::readManifest(folders.front());
    EXPECT_TRUE(manifest.ok()) << manifest.error();
    return manifest ? manifest.value() : backup::Manifest{};
  }

  test_support::TempDir m_dir{"uinq76-journal"};
  std::unique_ptr<RegistryStore> m_store;
  std::optional<test_support::ScopedActiveRegistry> m_active;
};

TEST_F(RunJournalTest, BacksUpBeforeTheFirstStepAndFramesEveryStep) {
  RunJournal journal(m_dir.path(), *m_store, threeSteps());
  EXPECT_EQ(journal.state(), State::NoBackup);
  const std::string before = backup::registryDigest(m_store->tree());
  // Other messages and other timers are let through and record nothing.
  EXPECT_TRUE(journal.beforeMessage(nullptr, WM_TIMER, kTimer + 1));
  EXPECT_TRUE(journal.beforeMessage(nullptr, WM_COMMAND, IDOK));
  EXPECT_TRUE(backup::listBackupFolders(m_dir.path()).empty());

  ASSERT_TRUE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
  // The preview left the registry as it was, and the backup is complete
  // before the step runs, with what each step will remove.
  EXPECT_EQ(backup::registryDigest(m_store->tree()), before);
  backup::Manifest m = onlyManifest();
  EXPECT_TRUE(m.complete);
  EXPECT_EQ(m.steps, 3);
  EXPECT_EQ(m.registryBefore, before);
  EXPECT_EQ(m.started, (std::set<int>{1}));
  EXPECT_TRUE(m.done.empty());
  EXPECT_FALSE(m.registry[1].keys.empty());
  EXPECT_EQ(m.files[3].size(), 1u);
  EXPECT_EQ(journal.state(), State::Running);
  runStep(1);
  journal.afterMessage(WM_TIMER, kTimer, true);
  EXPECT_EQ(journal.state(), State::BetweenSteps);
  EXPECT_EQ(onlyManifest().done, (std::set<int>{1}));

  ASSERT_TRUE(tick(journal, 2));
  // The last step is done once the shutdown is asked for.
  ASSERT_TRUE(tick(journal, 3));
  EXPECT_EQ(journal.state(), State::Ended);
  m = onlyManifest();
  EXPECT_EQ(m.done, (std::set<int>{1, 2, 3}));
  EXPECT_TRUE(m.finished);
  EXPECT_FALSE(journal.failed());
  // A further tick (the timer has stopped in the program) records nothing.
  EXPECT_TRUE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
  EXPECT_TRUE(onlyManifest().finished);
}

TEST_F(RunJournalTest, AStepWhoseSaveFailedIsNotDone) {
  RunJournal journal(m_dir.path(), *m_store, threeSteps());
  ASSERT_TRUE(tick(journal, 1, /*saved=*/false));
  EXPECT_EQ(journal.state(), State::BetweenSteps);
  const backup::Manifest m = onlyManifest();
  EXPECT_EQ(m.started, (std::set<int>{1}));
  EXPECT_TRUE(m.done.empty());
}

TEST_F(RunJournalTest, ABackupThatCannotBeWrittenStopsTheRunBeforeAnyChange) {
  test_support::writeFile(m_dir / "backups", "a file where the folder belongs\n");
  const std::string before = backup::registryDigest(m_store->tree());
  RunJournal journal(m_dir.path(), *m_store, threeSteps());
  EXPECT_FALSE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
  EXPECT_EQ(journal.state(), State::Failed);
  EXPECT_TRUE(journal.failed());
  EXPECT_EQ(backup::registryDigest(m_store->tree()), before);
  // Failed is final: no later tick is delivered.
  EXPECT_FALSE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
}

TEST_F(RunJournalTest, ACutOffRunIsFoundFromTheRegistryAndResumedAtItsNextStep) {
  {
    RunJournal journal(m_dir.path(), *m_store, threeSteps());
    ASSERT_TRUE(tick(journal, 1));
    // Cut off while step 2 ran, after its registry change was saved but
    // before "step 2 done" was written.
    ASSERT_TRUE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
    runStep(2);
  }
  RunJournal next(m_dir.path(), *m_store, threeSteps());
  auto found = next.findInterrupted();
  ASSERT_TRUE(found.ok()) << found.error();
  ASSERT_TRUE(found.value().has_value());
  const RunJournal::Interrupted& run = *found.value();
  EXPECT_EQ(run.nextStep, 3);
  EXPECT_EQ(run.manifest.title, "Kivra Q76 Audio Drivers");
  EXPECT_NE(next.offerText(run).find("Not done yet: Startup file."), std::string::npos)
      << next.offerText(run);

  next.resume(run);
  EXPECT_EQ(next.state(), State::BetweenSteps);
  EXPECT_EQ(next.stepsStarted(), 2);
  ASSERT_TRUE(tick(next, 3));
  EXPECT_EQ(next.state(), State::Ended);
  EXPECT_TRUE(onlyManifest().finished);
  // A finished run is not offered again.
  RunJournal after(m_dir.path(), *m_store, threeSteps());
  auto again = after.findInterrupted();
  ASSERT_TRUE(again.ok()) << again.error();
  EXPECT_FALSE(again.value().has_value());
}

// Cut off inside step 1 before its change reached the registry: the registry
// is as the run found it, so the run is finished from step 1, not refused as
// changed since.
TEST_F(RunJournalTest, ARunCutOffInItsFirstStepBeforeAnySaveIsFinishedFromStepOne) {
  {
    RunJournal journal(m_dir.path(), *m_store, threeSteps());
    ASSERT_TRUE(journal.beforeMessage(nullptr, WM_TIMER, kTimer));
    EXPECT_EQ(onlyManifest().started, (std::set<int>{1}));
  }
  RunJournal next(m_dir.path(), *m_store, threeSteps());
  auto found = next.findInterrupted();
  ASSERT_TRUE(found.ok()) << found.error();
  ASSERT_TRUE(found.value().has_value());
  EXPECT_EQ(found.value()->nextStep, 1);
  EXPECT_NE(
      next.offerText(*found.value()).find("Not done yet: Product key, Vendor key, Startup file."),
      std::string::npos)
      << next.offerText(*found.value());
  next.resume(*found.value());
  EXPECT_EQ(next.stepsStarted(), 0);
  for (int step = 1; step <= 3; ++step) ASSERT_TRUE(tick(next, step));
  EXPECT_TRUE(onlyManifest().finished);
}

TEST_F(RunJournalTest, ARegistryChangedSinceTheCutIsNotFinishedButRestoreIsNamed) {
  {
    RunJournal journal(m_dir.path(), *m_store, threeSteps());
    ASSERT_TRUE(tick(journal, 1));
  }
  // Another program's key goes meanwhile.
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\*PNP0C01\\0000"), ERROR_SUCCESS);
  RunJournal next(m_dir.path(), *m_store, threeSteps());
  auto found = next.findInterrupted();
  ASSERT_FALSE(found.ok());
  EXPECT_NE(found.error().find("uinq76 --restore uinq76-"), std::string::npos) << found.error();
}

}  // namespace

namespace {

// The backup that the record wrote puts the machine back byte for byte, also
// after the run was finished, and a second restore changes nothing.
TEST_F(RunJournalTest, TheBackupOfARunRestoresTheMachine) {
  const std::string registry_before = m_store->toText();
  const std::string autoexec = test_support::readFile(m_dir / "drive_c" / "AUTOEXEC.BAT");
  {
    RunJournal journal(m_dir.path(), *m_store, threeSteps());
    for (int step = 1; step <= 3; ++step) ASSERT_TRUE(tick(journal, step));
  }
  ASSERT_TRUE(m_store->toText() != registry_before);
  ASSERT_FALSE(fs::exists(m_dir / "drive_c" / "AUTOEXEC.BAT"));
  const auto folders = backup::listBackupFolders(m_dir.path());
  ASSERT_EQ(folders.size(), 1u);

  // A file where a deleted one stood is a conflict: nothing is changed.
  test_support::writeFile(m_dir / "drive_c" / "AUTOEXEC.BAT", "someone else's\r\n");
  auto refused = backup::restoreBackup(folders.front(), *m_store);
  ASSERT_TRUE(refused.ok()) << refused.error();
  ASSERT_EQ(refused.value().conflicts.size(), 1u);
  EXPECT_NE(refused.value().conflicts.front().find("AUTOEXEC.BAT"), std::string::npos);
  EXPECT_TRUE(m_store->toText() != registry_before);
  fs::remove(m_dir / "drive_c" / "AUTOEXEC.BAT");

  auto restored = backup::restoreBackup(folders.front(), *m_store);
  ASSERT_TRUE(restored.ok()) << restored.error();
  EXPECT_TRUE(restored.value().conflicts.empty());
  EXPECT_FALSE(restored.value().restored.empty());
  EXPECT_TRUE(m_store->toText() == registry_before);
  EXPECT_EQ(test_support::readFile(m_dir / "drive_c" / "AUTOEXEC.BAT"), autoexec);
  EXPECT_TRUE(onlyManifest().restored);

  auto again = backup::restoreBackup(folders.front(), *m_store);
  ASSERT_TRUE(again.ok()) << again.error();
  EXPECT_TRUE(again.value().alreadyRestored);
}

}  // namespace
