// A bounded crash campaign. A registry save and the startup file's rewrite are
// each killed at every system call they make (strace injects SIGKILL as the
// call is entered, so the call never runs), and the real program is killed
// at random moments of an uninstall. After every kill the file must be the
// old one or the new one, whole: never missing, partial or unreadable.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/creg/system_dat_file.h"
#include "platform/registry/registry_store.h"
#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/program_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/creg/creg_generator.h"

namespace {

namespace fs = std::filesystem;

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

class CrashCampaign : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!straceWorks())
      GTEST_SKIP() << "strace is missing or may not trace here (ptrace refused); the crash "
                      "campaign needs it";
  }

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
        calls, args, file, m_dir / "registry.reg.tmp", before, after,
        [&](const Call& call) {
          // The kill released the lock: the file opens again.
          auto reopened = RegistryStore::open(file);
          EXPECT_TRUE(reopened) << call.name << " #" << call.occurrence << ": " << reopened.error();
        },
        threads);
    reportAndCheck(what, calls.size(), figures);
  }

  test_support::TempDir m_temp{"uinq76-crash"};
  const fs::path m_dir = m_temp.path();
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

TEST_F(CrashCampaign, RegistrySaveKilledAtEachSystemCallLeavesOldOrNewFile) {
  killSaveAtEachCall(campaignRegistry(), false, "registry save");
}

// A registry of several hundred kilobytes is written on a second thread while
// the text is made; every call of both threads is a place to be killed.
TEST_F(CrashCampaign, LargeRegistrySaveKilledAtEachSystemCallOfEitherThreadLeavesOldOrNewFile) {
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
        calls, args, file, m_dir / "SYSTEM.DAT.tmp", before, after, [&](const Call& call) {
          auto reopened = creg::SystemDatFile::open(file);
          EXPECT_TRUE(reopened) << call.name << " #" << call.occurrence << ": " << reopened.error();
        });
    reportAndCheck(style == creg_gen::Style::Packed ? "SYSTEM.DAT save (packed blocks)"
                                                    : "SYSTEM.DAT save (free records)",
                   calls.size(), figures);
  }
}

TEST_F(CrashCampaign, StartupFileRewriteKilledAtEachSystemCallLeavesOldOrNewFile) {
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
TEST(RandomKills, TheMachineIsAlwaysUsableAfterAKill) {
  using namespace std::chrono;
  std::string finished;
  {
    e2e::TempMachine machine;
    const auto run = e2e::runProgram({machine.machineArg(), "--ui", "text"}, "y\n\n");
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
    e2e::TempMachine machine;
    const std::string autoexec = machine.read("drive_c/AUTOEXEC.BAT");
    const int after_ms = moment(random);
    {
      e2e::ProgramRunner runner({machine.machineArg(), "--ui", "text"});
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

}  // namespace
