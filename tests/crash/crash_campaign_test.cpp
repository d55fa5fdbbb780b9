// The crash campaign, in one fixture. Two ways of killing:
//
// - A registry save and the startup file's rewrite, run by a small helper,
//   are each killed at every system call they make (strace injects SIGKILL as
//   the call is entered, so the call never runs). After every kill the file
//   must be the old one or the new one, whole: never missing, partial or
//   unreadable. These cases are skipped, with a message, where strace cannot
//   trace.
// - The real program is killed with SIGKILL just before every call that
//   makes a change durable (fsync, rename, unlink, mkdir, link), through a
//   preloaded library, during an uninstall, the finishing of a cut-off run and
//   a restore, and at random moments of an uninstall. After each kill no file
//   may be corrupt, the next start must finish the run to the machine of an
//   uninterrupted one, and the backup must restore the machine as it was
//   before.
// - The same kills on a Windows 95 drive C:, whose registry is SYSTEM.DAT:
//   at random moments of a run, at each durable call of the finishing of a
//   cut-off run and of a restore. After each kill SYSTEM.DAT passes the
//   strict check; the next start leaves it holding the fully uninstalled
//   registry, and a completed restore leaves it byte for byte as before.
//
// Each case prints its figures: kills, and the files found old, new or
// corrupt.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/creg/system_registry.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_store.h"
#include "platform/systemdat/system_dat_file.h"
#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/machine_snapshot.h"
#include "tests/e2e/program_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/creg/creg_generator.h"
#include "tools/demo/demo_machine.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// ---- Killing a save at each of its system calls, under strace ----

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The exit status of a shell command, or -1 when it did not exit.
int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool straceWorks() { return shell("timeout 20 strace -qq -o /dev/null true >/dev/null 2>&1") == 0; }

// One system call of a trace: its name and which call of that name it is.
struct Call {
  std::string name;
  int occurrence = 0;
};

// The calls between the two getppid() marks of a trace written by strace -o.
// A trace of every thread (strace -f) starts each line with the thread's id;
// calls are then counted per thread, as strace counts them for an injection,
// and waits and memory calls are left out: their number varies with how the
// threads' timing falls (a sanitizer's allocator maps memory as it goes), and
// no file changes there.
std::vector<Call> callsBetweenMarks(const std::string& trace) {
  std::vector<Call> window;
  std::map<std::string, int> seen;
  int marks = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::string thread;
    if (const size_t digits = line.find_first_not_of("0123456789");
        digits != 0 && digits != std::string::npos && line[digits] == ' ') {
      thread = line.substr(0, digits);
      line.erase(0, digits + 1);
      while (!line.empty() && line.front() == ' ') line.erase(0, 1);
    }
    const size_t paren = line.find('(');
    if (paren == std::string::npos || line.compare(0, 3, "---") == 0) continue;
    const std::string name = line.substr(0, paren);
    if (name.empty() ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
      continue;
    const int occurrence = ++seen[thread + " " + name];
    if (!thread.empty() && (name == "futex" || name == "mmap" || name == "munmap" ||
                            name == "mprotect" || name == "madvise" || name == "brk"))
      continue;
    if (name == "getppid") {
      ++marks;
      continue;
    }
    if (marks == 1) window.push_back({name, occurrence});
  }
  return marks == 2 ? window : std::vector<Call>{};
}

struct Figures {
  int kills = 0;
  int old_file = 0;
  int new_file = 0;
  int corrupt = 0;
};

// A registry with `neighbours` keys of about 120 bytes each besides the key
// the helper removes.
std::string campaignRegistry(int neighbours = 400) {
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n";
  text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk]\r\n\r\n";
  text +=
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]\r\n\"Title\"=\"Kivra Q76 Audio "
      "Drivers\"\r\n\r\n";
  for (int i = 0; i < neighbours; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\Neighbour" + std::to_string(i) + "]\r\n";
    text += "\"Data\"=\"" + std::string(100, static_cast<char>('a' + i % 26)) + "\"\r\n\r\n";
  }
  text += "[HKEY_CURRENT_CONFIG]\r\n\r\n";
  return text;
}

constexpr const char* kNoStrace =
    "strace is missing or may not trace here (ptrace refused); this case of the crash campaign "
    "needs it";

// ---- Killing the program at each durable call, through a preloaded library ----

std::string readOrEmpty(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

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

// The registry file of a Windows 95 drive C: root.
constexpr const char* kSystemDat = "WINDOWS/SYSTEM.DAT";

bool isDrive(const fs::path& dir) { return fs::exists(dir / "MSDOS.SYS"); }

// SYSTEM.DAT read strictly: the registry it holds as REGEDIT4 text, or why
// the strict check refuses it.
std::string systemDatContent(const fs::path& file) {
  const std::string bytes = readOrEmpty(file);
  auto read = creg::SystemRegistry::read(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                         file.string());
  return read ? writeRegedit4(read.value().tree()) : "damaged: " + read.error();
}

// The machine for comparisons. On a drive, SYSTEM.DAT stands for the
// registry it holds (a run finished after a kill writes the same registry
// into a file that may be laid out otherwise), and the temporaries a kill
// left beside it are not the files.
Snapshot contentSnapshot(const fs::path& dir) {
  Snapshot snapshot = snapshotMachine(dir);
  if (!isDrive(dir)) return snapshot;
  std::erase_if(snapshot, [](const auto& entry) {
    return entry.first.find(".tmp") != std::string::npos ||
           entry.first.find(".uinq76-tmp") != std::string::npos;
  });
  auto it = snapshot.find(kSystemDat);
  if (it != snapshot.end())
    it->second =
        it->second.substr(0, it->second.find('\n') + 1) + systemDatContent(dir / kSystemDat);
  return snapshot;
}

// What a kill left: every file is either as it was before the run or as the
// run leaves it; the registry and the backup's manifest read back. On a
// drive, SYSTEM.DAT must pass the strict check, whichever state it holds.
std::string corruption(const fs::path& dir, const Snapshot& original, const Snapshot& done) {
  std::string registry = "registry.reg";
  if (isDrive(dir)) {
    registry = kSystemDat;
    const std::string content = systemDatContent(dir / kSystemDat);
    if (content.rfind("damaged: ", 0) == 0) return content;
  } else if (auto store =
                 RegistryStore::fromText(readOrEmpty(dir / "registry.reg"), "registry.reg");
             !store) {
    return "registry: " + store.error();
  }
  const Snapshot now = snapshotMachine(dir);
  for (const auto& [path, content] : now) {
    // Temporaries are not the files; the next run takes them away.
    if (path == registry || path.find(".tmp") != std::string::npos ||
        path.find(".uinq76-tmp") != std::string::npos || path.find(".@@@") != std::string::npos)
      continue;
    const auto was = original.find(path);
    const auto will = done.find(path);
    if ((was == original.end() || was->second != content) &&
        (will == done.end() || will->second != content))
      return path + " is neither as before nor as after";
  }
  const fs::path backup = newestCompleteBackup(dir);
  if (!backup.empty() && readOrEmpty(backup / "manifest.txt").rfind("uinq76-backup 1\n", 0) != 0)
    return backup.string() + ": manifest damaged";
  return {};
}

// After a completed restore on a drive, SYSTEM.DAT is the one before the
// run, byte for byte (the backup's copy of it).
std::string systemDatNotAsBefore(const fs::path& dir) {
  if (!isDrive(dir)) return {};
  const fs::path backup = newestCompleteBackup(dir);
  if (readOrEmpty(dir / kSystemDat) != readOrEmpty(backup / "registry-file"))
    return std::string(kSystemDat) + " is not byte for byte the one before the run";
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
struct KillOutcome {
  std::string corrupt, notFinished, notRestored, partialBackup, killedNotRestored;
  bool cutOffBackup = false;  // killed while its backup was written
};

// The folders of a backup cut off while it was written: no manifest yet, or
// one with no data.
std::vector<std::string> partialBackups(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir / "backups", ec)) {
    std::error_code size_ec;
    const auto size = fs::file_size(entry.path() / "manifest.txt", size_ec);
    if (entry.is_directory() && (size_ec || size == 0))
      names.push_back(entry.path().filename().string());
  }
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
  const auto now = [&] { return withoutTemporaries(contentSnapshot(dir)); };
  if (newestCompleteBackup(dir).empty()) return firstDifference(original, now());
  const Snapshot before = now();
  const auto restored = runProgram(restoreArgs(dir), "");
  if (restored.status == 1 &&
      restored.err.find("finish the interrupted uninstall first") != std::string::npos)
    return firstDifference(before, now());
  std::string difference = firstDifference(original, now());
  if (difference.empty()) difference = systemDatNotAsBefore(dir);
  if (restored.status != 0 || !difference.empty())
    return "status " + std::to_string(restored.status) + ", " + difference + "; " + restored.err;
  return {};
}

// Copies `start`, kills the run on it, checks the files, runs the program
// again (which finishes the run, or restores again) and compares with the
// machine of an uninterrupted run, then restores and compares with the one
// before.
KillOutcome runKill(const Kill& kill, const fs::path& start, bool restoring,
                    const Snapshot& original, const Snapshot& done) {
  KillOutcome result;
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
  std::string difference = firstDifference(expected, contentSnapshot(dir));
  if (difference.empty() && restoring) difference = systemDatNotAsBefore(dir);
  if (again.status != 0 || !difference.empty())
    result.notFinished =
        "status " + std::to_string(again.status) + ", " + difference + "; " + again.err;
  if (restoring) return result;
  const auto restored = runProgram(restoreArgs(dir), "");
  difference = firstDifference(original, contentSnapshot(dir));
  if (difference.empty()) difference = systemDatNotAsBefore(dir);
  if (restored.status != 0 || !difference.empty())
    result.notRestored =
        "status " + std::to_string(restored.status) + ", " + difference + "; " + restored.err;
  return result;
}

void runAll(const std::vector<Kill>& kills, const fs::path& start, bool restoring,
            const Snapshot& original, const Snapshot& done, Tally& tally) {
  for (std::size_t first = 0; first < kills.size(); first += kParallelRuns) {
    std::vector<std::future<KillOutcome>> running;
    for (std::size_t i = first; i < std::min(kills.size(), first + kParallelRuns); ++i)
      running.push_back(
          std::async(std::launch::async, runKill, kills[i], start, restoring, original, done));
    for (std::size_t i = 0; i < running.size(); ++i) {
      const KillOutcome result = running[i].get();
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

void reportTally(const char* what, const Tally& tally) {
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
  // The helper under strace. LeakSanitizer stops the world with ptrace, which a
  // traced process cannot; leaks are no concern of this campaign. A run that
  // has not ended after 20 s is stopped (status 124).
  std::string tracedHelper(const std::string& strace_options, const std::string& helper_args) {
    return "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" timeout 20 strace -qq " +
           strace_options + " " + quoted(CRASH_HELPER) + " " + helper_args + " >/dev/null 2>&1";
  }

  // Runs the helper once under strace and returns the calls of its save;
  // those of all its threads with `threads`.
  std::vector<Call> traceSave(const std::string& helper_args, bool threads = false) {
    const fs::path trace = m_dir / "trace";
    const int status =
        shell(tracedHelper((threads ? "-f -o " : "-o ") + quoted(trace.string()), helper_args));
    EXPECT_EQ(status, 0) << "the helper failed without a kill (124: it did not end in 20 s)";
    const auto calls = callsBetweenMarks(readFile(trace));
    fs::remove(trace);
    return calls;
  }

  // Kills the helper at `call`; true when it was killed there.
  bool killAt(const Call& call, const std::string& helper_args, bool threads) {
    const std::string inject =
        "inject=" + call.name + ":signal=KILL:when=" + std::to_string(call.occurrence);
    const int status = shell(tracedHelper(
        (threads ? "-f " : "") + std::string("-o /dev/null -e ") + inject, helper_args));
    return status == 128 + SIGKILL;
  }

  // Kills the helper once at each of `calls`, the file put back to `before`
  // and `temporary` removed before each run, and sorts what the file is
  // afterwards: the old text, the new one, or neither (a failure). `after_kill`
  // runs after each kill that happened.
  Figures killAtEachCall(const std::vector<Call>& calls, const std::string& helper_args,
                         const fs::path& file, const fs::path& temporary, const std::string& before,
                         const std::string& after,
                         const std::function<void(const Call&)>& after_kill = {},
                         bool threads = false) {
    Figures figures;
    for (const Call& call : calls) {
      writeFile(file, before);
      fs::remove(temporary);
      const bool killed = killAt(call, helper_args, threads);
      EXPECT_TRUE(killed) << "not killed at " << call.name << " #" << call.occurrence;
      if (!killed) continue;
      ++figures.kills;
      const std::string now = readFile(file);
      if (now == before) {
        ++figures.old_file;
      } else if (now == after) {
        ++figures.new_file;
      } else {
        ++figures.corrupt;
        ADD_FAILURE() << "killed at " << call.name << " #" << call.occurrence << ": "
                      << file.filename().string() << " is neither the old nor the new file ("
                      << now.size() << " bytes)";
      }
      if (after_kill) after_kill(call);
    }
    return figures;
  }

  // Prints a campaign's figures; no kill may leave a broken file, and the
  // kills must have reached both sides of the replace.
  static void reportAndCheck(const std::string& what, std::size_t calls, const Figures& figures) {
    std::cout << "[ FIGURES  ] " << what << ": " << calls << " system calls, " << figures.kills
              << " kills, " << figures.old_file << " old, " << figures.new_file << " new, "
              << figures.corrupt << " corrupt\n";
    EXPECT_EQ(figures.corrupt, 0);
    EXPECT_GT(figures.old_file, 0);
    EXPECT_GT(figures.new_file, 0);
  }

  // The helper's registry save of `text` (all threads traced with `threads`),
  // killed at each of its calls in turn.
  void killSaveAtEachCall(const std::string& text, bool threads, const std::string& what) {
    const fs::path file = m_dir / "registry.reg";
    auto parsed = RegistryStore::fromText(text);
    ASSERT_TRUE(parsed) << parsed.error();
    const std::string before = parsed.value()->toText();
    writeFile(file, before);
    const std::string args = "registry " + quoted(file);

    const auto calls = traceSave(args, threads);
    ASSERT_GE(calls.size(), 5u) << "the save's calls were not found in the trace";
    if (threads) {
      const auto writes = std::count_if(calls.begin(), calls.end(),
                                        [](const Call& call) { return call.name == "write"; });
      ASSERT_GE(writes, 3) << "the save's writes were not found in the trace";
    }
    const std::string after = readFile(file);
    ASSERT_NE(after, before);

    const Figures figures = killAtEachCall(
        calls, args, file, m_dir / ".registry.reg.uinq76-tmp", before, after,
        [&](const Call& call) {
          // The kill released the lock: the file opens again.
          auto reopened = RegistryStore::open(file);
          EXPECT_TRUE(reopened) << call.name << " #" << call.occurrence << ": " << reopened.error();
        },
        threads);
    reportAndCheck(what, calls.size(), figures);
  }

  // The machine before and after an uninterrupted run.
  void recordUninterruptedRun() {
    m_before = snapshotMachine(m_original.dir());
    m_uninstalled = m_scratch.path() / "uninstalled";
    copyMachine(m_original.dir(), m_uninstalled);
    m_runCalls = countDurableCalls(uninstallArgs(m_uninstalled), "y\n\n", m_scratch.path());
    m_after = snapshotMachine(m_uninstalled);
    ASSERT_GT(m_runCalls, 10);
  }

  // The same on the demo's Windows 95 drive C:.
  void recordUninterruptedRunOnADrive() {
    m_drive = m_scratch.path() / "drive";
    ASSERT_FALSE(demo::writeWin9xDrive(m_drive).has_value());
    m_before = contentSnapshot(m_drive);
    m_uninstalled = m_scratch.path() / "drive-uninstalled";
    copyMachine(m_drive, m_uninstalled);
    m_runCalls = countDurableCalls(uninstallArgs(m_uninstalled), "y\n\n", m_scratch.path());
    m_after = contentSnapshot(m_uninstalled);
    ASSERT_NE(m_after.at(kSystemDat), m_before.at(kSystemDat));
    ASSERT_GT(m_runCalls, 10);
  }

  test_support::TempDir m_temp{"uinq76-crash"};
  const fs::path m_dir = m_temp.path();
  // The program's machine before and after an uninterrupted run.
  TempMachine m_original;
  test_support::TempDir m_scratch{"uinq76-scratch"};
  fs::path m_uninstalled;
  fs::path m_drive;  // the Windows 95 drive before a run
  Snapshot m_before, m_after;
  long m_runCalls = 0;
};

TEST_F(CrashCampaign, RegistrySaveKilledAtEachSystemCallLeavesOldOrNewFile) {
  if (!straceWorks()) GTEST_SKIP() << kNoStrace;
  killSaveAtEachCall(campaignRegistry(), false, "registry save");
}

// A registry of several hundred kilobytes, written in many pieces; the trace
// follows every thread of the process, so that no call of the save could
// escape the campaign.
TEST_F(CrashCampaign, LargeRegistrySaveKilledAtEachSystemCallLeavesOldOrNewFile) {
  if (!straceWorks()) GTEST_SKIP() << kNoStrace;
  const std::string text = campaignRegistry(6000);
  ASSERT_GT(text.size(), 600'000u);
  killSaveAtEachCall(text, true, "large registry save");
}

// SYSTEM.DAT of either style, with the product's keys in HKLM and in two
// hardware profiles, its save killed at each system call: the file is the
// old one or the new one, passes the strict check and opens again.
TEST_F(CrashCampaign, SystemDatSaveKilledAtEachSystemCallLeavesOldOrNewFile) {
  for (const auto style : {creg_gen::Style::Packed, creg_gen::Style::FreeRecords}) {
    std::string text = campaignRegistry(300);
    text += "[HKEY_LOCAL_MACHINE\\Config\\0001\\Enum\\Q76]\r\n\"Flags\"=\"1\"\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\Config\\0002\\Enum\\Q76]\r\n\"Flags\"=\"1\"\r\n\r\n";
    auto parsed = RegistryStore::fromText(text);
    ASSERT_TRUE(parsed) << parsed.error();
    creg_gen::Options options;
    options.style = style;
    options.checksums = style == creg_gen::Style::Packed;
    options.blockSize = 0x2000;
    auto generated = creg_gen::generate(parsed.value()->tree(),
                                        RegistryTree::rootKey(RootKey::LocalMachine), options);
    ASSERT_TRUE(generated) << generated.error();
    const std::string before(generated.value().begin(), generated.value().end());
    const fs::path file = m_dir / "SYSTEM.DAT";
    writeFile(file, before);
    const std::string args = "systemdat " + quoted(file);

    const auto calls = traceSave(args);
    ASSERT_GE(calls.size(), 5u) << "the save's calls were not found in the trace";
    const std::string after = readFile(file);
    ASSERT_NE(after, before);
    ASSERT_EQ(after.size(), before.size());

    const Figures figures = killAtEachCall(
        calls, args, file, m_dir / ".SYSTEM.DAT.uinq76-tmp", before, after, [&](const Call& call) {
          auto reopened = creg::SystemDatFile::open(file);
          EXPECT_TRUE(reopened) << call.name << " #" << call.occurrence << ": " << reopened.error();
        });
    reportAndCheck(style == creg_gen::Style::Packed ? "SYSTEM.DAT save (packed blocks)"
                                                    : "SYSTEM.DAT save (free records)",
                   calls.size(), figures);
  }
}

TEST_F(CrashCampaign, StartupFileRewriteKilledAtEachSystemCallLeavesOldOrNewFile) {
  if (!straceWorks()) GTEST_SKIP() << kNoStrace;
  const fs::path file = m_dir / "drive_c/AUTOEXEC.BAT";
  std::string before = "@ECHO OFF\r\n";
  for (int i = 0; i < 300; ++i) before += "SET PART" + std::to_string(i) + "=C:\\DRIVERS\\X\r\n";
  before += "C:\\WINDOWS\\COMMAND\\MSCDEX.EXE /D:MSCD001\r\n";
  writeFile(file, before);
  const std::string args = "startup " + quoted(m_dir);

  const auto calls = traceSave(args);
  ASSERT_GE(calls.size(), 5u) << "the rewrite's calls were not found in the trace";
  const std::string after = readFile(file);
  ASSERT_NE(after.find("UINQ76D.EXE"), std::string::npos);

  const Figures figures =
      killAtEachCall(calls, args, file, m_dir / "drive_c/AUTOEXEC.@@@", before, after);
  reportAndCheck("startup-file rewrite", calls.size(), figures);
}

// The real program, killed at random moments of an uninstall: its registry
// always opens, and AUTOEXEC.BAT is always the old or the finished one.
TEST_F(CrashCampaign, RandomKillsLeaveTheMachineUsable) {
  using namespace std::chrono;
  std::string finished;
  {
    TempMachine machine;
    const auto run = runProgram({machine.machineArg(), "--ui", "text"}, "y\n\n");
    ASSERT_EQ(run.status, 0) << run.err;
    finished = machine.read("drive_c/AUTOEXEC.BAT");
  }
  const unsigned seed = static_cast<unsigned>(steady_clock::now().time_since_epoch().count());
  std::mt19937 random(seed);
  // The run takes about 1.6 s: three ticks of 500 ms, then the notice.
  std::uniform_int_distribution<int> moment(0, 1800);
  constexpr int kKills = 12;
  int corrupt = 0;
  for (int i = 0; i < kKills; ++i) {
    TempMachine machine;
    const std::string autoexec = machine.read("drive_c/AUTOEXEC.BAT");
    const int after_ms = moment(random);
    {
      ProgramRunner runner({machine.machineArg(), "--ui", "text"});
      runner.write("y\n\n");
      std::this_thread::sleep_for(milliseconds(after_ms));
      runner.signal(SIGKILL);
      EXPECT_NE(runner.wait(seconds(10)), -1) << "the killed program did not end";
    }
    const std::string now = machine.read("drive_c/AUTOEXEC.BAT");
    const bool whole = now == autoexec || now == finished;
    bool opens = false;
    {
      auto store = RegistryStore::open(machine.dir() / "registry.reg");
      opens = static_cast<bool>(store);
      EXPECT_TRUE(opens) << "kill after " << after_ms << " ms (seed " << seed
                         << "): " << store.error();
    }
    EXPECT_TRUE(whole) << "kill after " << after_ms << " ms (seed " << seed
                       << "): AUTOEXEC.BAT is neither the old nor the finished file";
    if (!whole || !opens) ++corrupt;
  }
  std::cout << "[ FIGURES  ] random kills of the program: " << kKills << " kills (seed " << seed
            << "), " << corrupt << " machines left corrupt\n";
}

TEST_F(CrashCampaign, KillsDuringAnUninstall) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRun());
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
  reportTally("uninstall (every durable call and 12 random moments)", tally);
  // Some of the calls are those that write the backup, up to the rename that
  // gives it its name.
  EXPECT_GT(tally.cutOffBackups, 0);
}

TEST_F(CrashCampaign, KillsWhileACutOffRunIsFinished) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRun());
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
  reportTally("finishing a cut-off run (every durable call)", tally);
}

TEST_F(CrashCampaign, KillsDuringARestore) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRun());
  const fs::path probe = m_scratch.path() / "probe";
  copyMachine(m_uninstalled, probe);
  const long calls = countDurableCalls(restoreArgs(probe), "", m_scratch.path());
  EXPECT_EQ(firstDifference(m_before, snapshotMachine(probe)), "");
  std::vector<Kill> kills;
  for (long n = 1; n <= calls; ++n) kills.push_back({"restore, call " + std::to_string(n), n});
  Tally tally;
  runAll(kills, m_uninstalled, true, m_before, m_after, tally);
  reportTally("restore (every durable call)", tally);
}

// A Windows 95 drive C: killed at random moments of a run (fixed seed, so a
// failure can be replayed): SYSTEM.DAT always passes the strict check, the
// next start finishes the run, and the restore puts SYSTEM.DAT back byte for
// byte.
TEST_F(CrashCampaign, RandomKillsOfARunOnADrive) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRunOnADrive());
  std::mt19937 random(95);
  std::uniform_int_distribution<int> moment(0, 1800);
  std::vector<Kill> kills;
  for (int i = 0; i < 8; ++i) {
    const auto delay = std::chrono::milliseconds(moment(random));
    kills.push_back({"drive, uninstall after " + std::to_string(delay.count()) + " ms", 0, delay});
  }
  Tally tally;
  runAll(kills, m_drive, false, m_before, m_after, tally);
  reportTally("Windows 95 drive, uninstall (8 random moments)", tally);
}

TEST_F(CrashCampaign, KillsWhileACutOffRunIsFinishedOnADrive) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRunOnADrive());
  // A run cut off after its first step (cancelled), to be finished.
  const fs::path cut_off = m_scratch.path() / "drive-cut-off";
  copyMachine(m_drive, cut_off);
  {
    ProgramRunner runner(uninstallArgs(cut_off));
    runner.write("y\n");
    ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0);
  }
  ASSERT_NE(contentSnapshot(cut_off).at(kSystemDat), m_before.at(kSystemDat))
      << "the cut-off run changed nothing in SYSTEM.DAT";
  const fs::path probe = m_scratch.path() / "drive-probe";
  copyMachine(cut_off, probe);
  const long calls = countDurableCalls(uninstallArgs(probe), "y\n\n", m_scratch.path());
  EXPECT_EQ(firstDifference(m_after, contentSnapshot(probe)), "");
  std::vector<Kill> kills;
  for (long n = 1; n <= calls; ++n)
    kills.push_back({"drive, finishing, call " + std::to_string(n), n});
  std::mt19937 random(76);
  std::uniform_int_distribution<int> moment(0, 1200);
  for (int i = 0; i < 4; ++i) {
    const auto delay = std::chrono::milliseconds(moment(random));
    kills.push_back({"drive, finishing after " + std::to_string(delay.count()) + " ms", 0, delay});
  }
  Tally tally;
  runAll(kills, cut_off, false, m_before, m_after, tally);
  reportTally("Windows 95 drive, finishing a cut-off run (every durable call, 4 random moments)",
              tally);
}

TEST_F(CrashCampaign, KillsDuringARestoreOnADrive) {
  ASSERT_NO_FATAL_FAILURE(recordUninterruptedRunOnADrive());
  const fs::path probe = m_scratch.path() / "drive-probe";
  copyMachine(m_uninstalled, probe);
  const long calls = countDurableCalls(restoreArgs(probe), "", m_scratch.path());
  EXPECT_EQ(firstDifference(m_before, contentSnapshot(probe)), "");
  EXPECT_EQ(systemDatNotAsBefore(probe), "");
  std::vector<Kill> kills;
  for (long n = 1; n <= calls; ++n)
    kills.push_back({"drive, restore, call " + std::to_string(n), n});
  Tally tally;
  runAll(kills, m_uninstalled, true, m_before, m_after, tally);
  reportTally("Windows 95 drive, restore (every durable call)", tally);
}

}  // namespace
}  // namespace e2e
