// The crash campaign: the program is killed with SIGKILL just before every
// call that makes a change durable (fsync, rename, unlink, mkdir, link) of an
// uninstall, of the finishing of a cut-off run and of a restore, and at
// random moments of an uninstall. After each kill no file may be corrupt; the
// killed machine, restored at once, must be as it was before; a backup cut
// off while it was written is never listed and goes on the next start with
// one line; the next start must finish the run to the machine of an
// uninterrupted one, and the backup must then restore the machine as it was.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <future>
#include <iostream>
#include <random>
#include <thread>

#include "platform/registry/registry_store.h"
#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/machine_snapshot.h"
#include "tests/e2e/program_runner.h"
#include "tests/support/temp_dir.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Several runs at once: most of a run is spent waiting for its timers.
constexpr std::size_t kParallelRuns = 8;

std::vector<std::string> shimEnv(long kill_at, const std::string& tally = "") {
  std::vector<std::string> env = {std::string("LD_PRELOAD=") + UINQ_CRASH_SHIM,
                                  "UINQ76_TEST_KILL_AT=" + std::to_string(kill_at)};
  if (!tally.empty()) env.push_back("UINQ76_TEST_TALLY=" + tally);
  // Under AddressSanitizer the preloaded library comes before its runtime.
  if (const char* asan = std::getenv("ASAN_OPTIONS"))
    env.push_back(std::string("ASAN_OPTIONS=") + asan + ":verify_asan_link_order=0");
  return env;
}

std::vector<std::string> uninstallArgs(const fs::path& dir) {
  return {"--machine=" + dir.string(), "--ui", "text"};
}

std::vector<std::string> restoreArgs(const fs::path& dir) {
  const fs::path backup = newestCompleteBackup(dir);
  return {"--machine=" + dir.string(), "--restore", backup.string()};
}

// The number of durable calls of a run that is not killed.
long countDurableCalls(const std::vector<std::string>& args, const std::string& input,
                       const fs::path& scratch) {
  const std::string tally = (scratch / "tally").string();
  const auto run = runProgram(args, input, shimEnv(0, tally));
  EXPECT_EQ(run.status, 0) << run.err;
  std::ifstream in(tally);
  long count = 0;
  in >> count;
  return count;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// What a kill left: every file is either as it was before the run or as the
// run leaves it; the registry and the backup's manifest read back.
std::string corruption(const fs::path& dir, const Snapshot& original, const Snapshot& done) {
  auto store = RegistryStore::fromText(readFile(dir / "registry.reg"), "registry.reg");
  if (!store) return "registry: " + store.error();
  const Snapshot now = snapshotMachine(dir);
  for (const auto& [path, content] : now) {
    // Temporaries are not the files; the next run takes them away.
    if (path == "registry.reg" || path.find(".tmp") != std::string::npos ||
        path.find(".uinq76-tmp") != std::string::npos || path.find(".@@@") != std::string::npos)
      continue;
    const auto was = original.find(path);
    const auto will = done.find(path);
    if ((was == original.end() || was->second != content) &&
        (will == done.end() || will->second != content))
      return path + " is neither as before nor as after";
  }
  const fs::path backup = newestCompleteBackup(dir);
  if (!backup.empty() && readFile(backup / "manifest.txt").rfind("uinq76-backup 1\n", 0) != 0)
    return backup.string() + ": manifest damaged";
  return {};
}

struct Tally {
  int kills = 0;
  int corrupt = 0;
  int notFinished = 0;
  int notRestored = 0;
  int partialBackup = 0;
  int killedNotRestored = 0;
  int cutOffBackups = 0;
  std::vector<std::string> problems;

  void add(const std::string& what, const std::string& problem, int& counter) {
    if (problem.empty()) return;
    ++counter;
    problems.push_back(what + ": " + problem);
  }
};

// One kill of an uninstall (or a restore) at a durable call, or after a
// delay when killAt is 0.
struct Kill {
  std::string what;
  long killAt = 0;
  std::chrono::milliseconds delay{0};
};

// Each problem found after a kill, empty when there was none.
struct Result {
  std::string corrupt, notFinished, notRestored, partialBackup, killedNotRestored;
  bool cutOffBackup = false;  // killed while its backup was written
};

// The folders of a backup cut off while it was written, under their
// temporary name.
std::vector<std::string> partialBackups(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir / "backups", ec))
    if (entry.path().filename().string().rfind(".partial-", 0) == 0)
      names.push_back(entry.path().filename().string());
  return names;
}

// A backup cut off while it was written: never listed, and on the next start
// (`next_err`) removed with one line.
std::string partialBackupProblem(const fs::path& dir, const std::vector<std::string>& partials,
                                 const std::string& listing, const std::string& next_err) {
  if (listing.find("unreadable") != std::string::npos) return "listed as unreadable: " + listing;
  if (next_err.find("cannot be read") != std::string::npos) return "next start: " + next_err;
  if (!partialBackups(dir).empty()) return "a partial backup is still there after the next start";
  if (partials.empty()) return {};
  const auto line = next_err.find("removed the unfinished backup " + partials.front());
  if (line == std::string::npos) return "its removal was not reported: " + next_err;
  return {};
}

// The machine without the temporaries a kill leaves beside the files it was
// replacing (the next uninstall takes them away; they are not the files).
Snapshot withoutTemporaries(Snapshot snapshot) {
  std::erase_if(snapshot, [](const auto& entry) {
    const std::string& path = entry.first;
    return path.find(".tmp") != std::string::npos ||
           path.find(".uinq76-tmp") != std::string::npos || path.find(".@@@") != std::string::npos;
  });
  return snapshot;
}

// Restores a copy of the killed machine at once, before anything finishes
// the run: the machine must be as before (or, killed before the backup was
// complete, it still is). Killed between the startup file's rewrite and its
// record, the restore may instead refuse, change nothing and ask for the run
// to be finished first.
std::string restoreKilled(const fs::path& killed, const Snapshot& original) {
  test_support::TempDir scratch{"uinq76-scratch"};
  const fs::path dir = scratch.path() / "machine";
  copyMachine(killed, dir);
  const auto now = [&] { return withoutTemporaries(snapshotMachine(dir)); };
  if (newestCompleteBackup(dir).empty()) return firstDifference(original, now());
  const Snapshot before = now();
  const auto restored = runProgram(restoreArgs(dir), "");
  if (restored.status == 1 &&
      restored.err.find("finish the interrupted uninstall first") != std::string::npos)
    return firstDifference(before, now());
  const std::string difference = firstDifference(original, now());
  if (restored.status != 0 || !difference.empty())
    return "status " + std::to_string(restored.status) + ", " + difference + "; " + restored.err;
  return {};
}

// Copies `start`, kills the run on it, checks the files, runs the program
// again (which finishes the run, or restores again) and compares with the
// machine of an uninterrupted run, then restores and compares with the one
// before.
Result runKill(const Kill& kill, const fs::path& start, bool restoring, const Snapshot& original,
               const Snapshot& done) {
  Result result;
  test_support::TempDir scratch{"uinq76-scratch"};
  const fs::path dir = scratch.path() / "machine";
  copyMachine(start, dir);
  std::vector<std::string> args = restoring ? restoreArgs(dir) : uninstallArgs(dir);
  if (kill.killAt > 0) {
    const auto run = runProgram(args, "y\n\n", shimEnv(kill.killAt));
    if (run.status != 128 + SIGKILL) result.corrupt = "not killed: " + run.err;
  } else {
    ProgramRunner runner(args);
    runner.write("y\n\n");
    runner.closeInput();
    std::this_thread::sleep_for(kill.delay);
    runner.signal(SIGKILL);
    runner.wait();
  }
  if (result.corrupt.empty()) result.corrupt = corruption(dir, original, done);
  if (!restoring) result.killedNotRestored = restoreKilled(dir, original);
  const std::vector<std::string> partials = partialBackups(dir);
  result.cutOffBackup = !partials.empty();
  const auto listing = runProgram({"--machine=" + dir.string(), "--list-backups"}, "");

  // The next start finishes what was cut off (or restores again).
  const Snapshot& expected = restoring ? original : done;
  const auto again = runProgram(restoring ? restoreArgs(dir) : uninstallArgs(dir), "y\n\n");
  result.partialBackup = partialBackupProblem(dir, partials, listing.out, again.err);
  std::string difference = firstDifference(expected, snapshotMachine(dir));
  if (again.status != 0 || !difference.empty())
    result.notFinished =
        "status " + std::to_string(again.status) + ", " + difference + "; " + again.err;
  if (restoring) return result;
  const auto restored = runProgram(restoreArgs(dir), "");
  difference = firstDifference(original, snapshotMachine(dir));
  if (restored.status != 0 || !difference.empty())
    result.notRestored =
        "status " + std::to_string(restored.status) + ", " + difference + "; " + restored.err;
  return result;
}

void runAll(const std::vector<Kill>& kills, const fs::path& start, bool restoring,
            const Snapshot& original, const Snapshot& done, Tally& tally) {
  for (std::size_t first = 0; first < kills.size(); first += kParallelRuns) {
    std::vector<std::future<Result>> running;
    for (std::size_t i = first; i < std::min(kills.size(), first + kParallelRuns); ++i)
      running.push_back(
          std::async(std::launch::async, runKill, kills[i], start, restoring, original, done));
    for (std::size_t i = 0; i < running.size(); ++i) {
      const Result result = running[i].get();
      const std::string& what = kills[first + i].what;
      ++tally.kills;
      tally.add(what, result.corrupt, tally.corrupt);
      tally.add(what, result.notFinished, tally.notFinished);
      tally.add(what, result.notRestored, tally.notRestored);
      tally.add(what, result.partialBackup, tally.partialBackup);
      tally.add(what, result.killedNotRestored, tally.killedNotRestored);
      if (result.cutOffBackup) ++tally.cutOffBackups;
    }
  }
}

void report(const char* what, const Tally& tally) {
  std::cout << "crash campaign, " << what << ": " << tally.kills
            << " kills; corrupt files: " << tally.corrupt
            << "; runs not finished: " << tally.notFinished
            << "; not restored: " << tally.notRestored
            << "; killed machines not restored at once: " << tally.killedNotRestored
            << "; backups cut off while written: " << tally.cutOffBackups
            << " (handled badly: " << tally.partialBackup << ")\n";
  for (const auto& problem : tally.problems) ADD_FAILURE() << problem;
  EXPECT_EQ(tally.corrupt + tally.notFinished + tally.notRestored + tally.partialBackup +
                tally.killedNotRestored,
            0);
}

class CrashCampaign : public ::testing::Test {
 protected:
  // The machine before and after an uninterrupted run.
  void SetUp() override {
    m_before = snapshotMachine(m_original.dir());
    m_uninstalled = m_scratch.path() / "uninstalled";
    copyMachine(m_original.dir(), m_uninstalled);
    m_runCalls = countDurableCalls(uninstallArgs(m_uninstalled), "y\n\n", m_scratch.path());
    m_after = snapshotMachine(m_uninstalled);
    ASSERT_GT(m_runCalls, 10);
  }

  TempMachine m_original;
  test_support::TempDir m_scratch{"uinq76-scratch"};
  fs::path m_uninstalled;
  Snapshot m_before, m_after;
  long m_runCalls = 0;
};

TEST_F(CrashCampaign, KillsDuringAnUninstall) {
  std::vector<Kill> kills;
  for (long n = 1; n <= m_runCalls; ++n)
    kills.push_back({"uninstall, call " + std::to_string(n), n});
  std::mt19937 random(76);  // fixed: a failure can be replayed
  std::uniform_int_distribution<int> moment(0, 1800);
  for (int i = 0; i < 12; ++i) {
    const auto delay = std::chrono::milliseconds(moment(random));
    kills.push_back({"uninstall, after " + std::to_string(delay.count()) + " ms", 0, delay});
  }
  Tally tally;
  runAll(kills, m_original.dir(), false, m_before, m_after, tally);
  report("uninstall (every durable call and 12 random moments)", tally);
  // Some of the calls are those that write the backup, up to the rename that
  // gives it its name.
  EXPECT_GT(tally.cutOffBackups, 0);
}

TEST_F(CrashCampaign, KillsWhileACutOffRunIsFinished) {
  // A run cut off after its first step (cancelled), to be finished.
  const fs::path cut_off = m_scratch.path() / "cut-off";
  copyMachine(m_original.dir(), cut_off);
  {
    ProgramRunner runner(uninstallArgs(cut_off));
    runner.write("y\n");
    ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0);
  }
  const fs::path probe = m_scratch.path() / "probe";
  copyMachine(cut_off, probe);
  const long calls = countDurableCalls(uninstallArgs(probe), "y\n\n", m_scratch.path());
  EXPECT_EQ(firstDifference(m_after, snapshotMachine(probe)), "");
  std::vector<Kill> kills;
  for (long n = 1; n <= calls; ++n) kills.push_back({"finishing, call " + std::to_string(n), n});
  Tally tally;
  runAll(kills, cut_off, false, m_before, m_after, tally);
  report("finishing a cut-off run (every durable call)", tally);
}

TEST_F(CrashCampaign, KillsDuringARestore) {
  const fs::path probe = m_scratch.path() / "probe";
  copyMachine(m_uninstalled, probe);
  const long calls = countDurableCalls(restoreArgs(probe), "", m_scratch.path());
  EXPECT_EQ(firstDifference(m_before, snapshotMachine(probe)), "");
  std::vector<Kill> kills;
  for (long n = 1; n <= calls; ++n) kills.push_back({"restore, call " + std::to_string(n), n});
  Tally tally;
  runAll(kills, m_uninstalled, true, m_before, m_after, tally);
  report("restore (every durable call)", tally);
}

}  // namespace
}  // namespace e2e
