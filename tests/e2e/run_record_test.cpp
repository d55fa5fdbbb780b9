// The run's record in its backup's manifest, as the next start and
// --list-backups read it: steps recorded as done only once saved, a run whose
// last step is done never offered again, and a cut-off run found behind a
// newer backup that was never completed.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/machine_snapshot.h"
#include "tests/e2e/program_runner.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConfirm = "Do you really want to uninstall this software?";
constexpr const char* kOffer = "was interrupted before it was complete";

std::vector<std::string> textUi(const TempMachine& machine) {
  return {machine.machineArg(), "--ui", "text"};
}

std::string manifestOf(const TempMachine& machine) {
  return fs::relative(newestCompleteBackup(machine.dir()) / "manifest.txt", machine.dir()).string();
}

std::string listing(const TempMachine& machine) {
  const auto listed = runProgram({machine.machineArg(), "--list-backups"}, "");
  EXPECT_EQ(listed.status, 0) << listed.err;
  return listed.out;
}

void cutOffAfterStepOne(const TempMachine& machine) {
  ProgramRunner runner(textUi(machine));
  runner.write("y\n");
  ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
  runner.signal(SIGINT);
  ASSERT_EQ(runner.wait(), 0) << runner.errors();
}

TEST(RunRecord, EachStepIsRecordedDoneOnceSaved) {
  // Cancelled after the first step: it is recorded as done.
  TempMachine machine;
  cutOffAfterStepOne(machine);
  const std::string manifest = machine.read(manifestOf(machine));
  EXPECT_NE(manifest.find("\nstep 1 started\nstep 1 done\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("step 2"), std::string::npos) << manifest;
  EXPECT_NE(listing(machine).find("interrupted after step 1 of 3"), std::string::npos);

  // A step whose registry could not be saved is not done (a folder where the
  // save's temporary goes makes every save fail).
  TempMachine unsaved;
  fs::create_directory(unsaved.dir() / ".registry.reg.uinq76-tmp");
  const auto run = runProgram(textUi(unsaved), "y\n\n");
  EXPECT_EQ(run.status, 1) << run.err;
  const std::string record = unsaved.read(manifestOf(unsaved));
  EXPECT_NE(record.find("step 1 started"), std::string::npos) << record;
  EXPECT_EQ(record.find(" done"), std::string::npos) << record;
  EXPECT_EQ(record.find("finished"), std::string::npos) << record;
}

TEST(RunRecord, ARunWhoseLastStepIsDoneIsNotOfferedAgain) {
  // Killed after recording the last step done but before "finished".
  TempMachine machine;
  ASSERT_EQ(runProgram(textUi(machine), "y\n\n").status, 0);
  const std::string path = manifestOf(machine);
  std::string manifest = machine.read(path);
  const auto finished = manifest.rfind("finished\n");
  ASSERT_NE(finished, std::string::npos) << manifest;
  manifest.erase(finished);
  ASSERT_NE(manifest.find("step 3 done\n"), std::string::npos) << manifest;
  machine.write(path, manifest);
  const Snapshot uninstalled = snapshotMachine(machine.dir());

  const auto next = runProgram(textUi(machine), "y\n\n");
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(next.out.find(kOffer), std::string::npos) << next.out;
  EXPECT_EQ(next.err.find("cut off"), std::string::npos) << next.err;
  EXPECT_NE(next.out.find("not properly installed"), std::string::npos) << next.out;
  EXPECT_EQ(firstDifference(uninstalled, snapshotMachine(machine.dir())), "");
  EXPECT_NE(listing(machine).find("uninstalled"), std::string::npos);
}

TEST(RunRecord, ACutOffRunIsFoundBehindANewerIncompleteBackup) {
  TempMachine machine;
  cutOffAfterStepOne(machine);
  // A newer backup folder whose manifest never got to "complete", as an
  // older version of the program could leave one.
  const std::string manifest = machine.read(manifestOf(machine));
  const std::string head = manifest.substr(0, manifest.find("complete\n"));
  machine.write("backups/uinq76-29991231-235959/manifest.txt", head);

  const auto offered = runProgram(textUi(machine), "n\n");
  EXPECT_EQ(offered.status, 0) << offered.err;
  EXPECT_NE(offered.out.find(kOffer), std::string::npos) << offered.out;
  EXPECT_EQ(offered.out.find(kConfirm), std::string::npos) << offered.out;
  EXPECT_EQ(offered.err.find("cannot be read"), std::string::npos) << offered.err;
  EXPECT_NE(listing(machine).find("interrupted after step 1 of 3"), std::string::npos);
}

}  // namespace
}  // namespace e2e
