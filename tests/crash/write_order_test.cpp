// The order of the calls that make a run's changes durable, as the preloaded
// library traces them during an uninstall and a restore, on a machine
// directory and on a Windows 95 drive C:. A missing flush leaves no trace in
// the files of a run that was not cut, and a power cut catches it only when it
// falls in the window the flush should have closed; the trace shows it every
// time:
// - a file or folder is flushed before it is renamed into place;
// - after a rename, before the run's next change, the renamed file or folder
//   is flushed under its new name and so are its folder and, for a move, the
//   folder it left;
// - every line appended to a backup's manifest is flushed before the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/program_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

struct Call {
  std::string op;
  fs::path path;
  fs::path to;    // a rename's new name
  long size = 0;  // a flushed file's size
};

// A path as the kernel names it: its folder resolved (the file itself may be
// gone by now).
fs::path kernelPath(const fs::path& path) {
  return fs::weakly_canonical(path.parent_path()) / path.filename();
}

std::vector<Call> readTrace(const fs::path& file) {
  std::vector<Call> calls;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    Call call;
    std::string path, second;
    words >> call.op >> path >> second;
    call.path = kernelPath(path);
    if (call.op == "rename") call.to = kernelPath(second);
    if (call.op == "fsync") call.size = std::stol(second);
    calls.push_back(call);
  }
  return calls;
}

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every break of the order, one line each.
std::vector<std::string> orderFaults(const std::vector<Call>& calls) {
  std::vector<std::string> faults;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& rename = calls[i];
    if (rename.op != "rename") continue;
    const auto flushed_before =
        std::any_of(calls.begin(), calls.begin() + static_cast<long>(i),
                    [&](const Call& c) { return c.op == "fsync" && c.path == rename.path; });
    if (!flushed_before)
      faults.push_back(rename.path.string() + " renamed to " + rename.to.string() +
                       " without being flushed first");
    std::set<fs::path> flushed_after;
    for (std::size_t j = i + 1; j < calls.size() && calls[j].op == "fsync"; ++j)
      flushed_after.insert(calls[j].path);
    std::vector<fs::path> needed = {rename.to, rename.to.parent_path()};
    if (rename.path.parent_path() != rename.to.parent_path())
      needed.push_back(rename.path.parent_path());
    for (const fs::path& need : needed) {
      if (!flushed_after.count(need))
        faults.push_back("after the rename of " + rename.path.string() + " to " +
                         rename.to.string() + ", " + need.string() + " is not flushed");
    }
  }
  return faults;
}

// Every manifest line the run appended was flushed on its own: the file was
// flushed at each line's end, from the size it was first flushed at.
std::vector<std::string> manifestFaults(const std::vector<Call>& calls, const fs::path& manifest) {
  std::vector<std::string> faults;
  std::set<long> sizes;
  for (const Call& call : calls)
    if (call.op == "fsync" && call.path == kernelPath(manifest)) sizes.insert(call.size);
  if (sizes.empty()) return {manifest.string() + " was never flushed"};
  const std::string text = readText(manifest);
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       end = text.find('\n', end + 1)) {
    const long size = static_cast<long>(end + 1);
    if (size > *sizes.begin() && !sizes.count(size))
      faults.push_back(manifest.string() + ": the line ending at byte " + std::to_string(size) +
                       " was not flushed on its own");
  }
  return faults;
}

class WriteOrder : public ::testing::Test {
 protected:
  std::vector<Call> traced(const std::vector<std::string>& args, const std::string& input) {
    const fs::path trace = m_scratch.path() / ("trace-" + std::to_string(++m_runs));
    std::vector<std::string> env = {std::string("LD_PRELOAD=") + UINQ_CRASH_SHIM,
                                    "UINQ76_TEST_TRACE=" + trace.string()};
    // Under AddressSanitizer the preloaded library comes before its runtime.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
      env.push_back(std::string("ASAN_OPTIONS=") + asan + ":verify_asan_link_order=0");
    const auto run = runProgram(args, input, env);
    EXPECT_EQ(run.status, 0) << run.err;
    return readTrace(trace);
  }

  // An uninstall and the restore of its backup on `dir`, each checked.
  void uninstallAndRestore(const fs::path& dir) {
    const auto uninstall = traced({"--machine=" + dir.string(), "--ui", "text"}, "y\n\n");
    ASSERT_FALSE(uninstall.empty());
    EXPECT_EQ(orderFaults(uninstall), std::vector<std::string>{});
    std::vector<fs::path> backups;
    for (const auto& entry : fs::directory_iterator(dir / "backups"))
      backups.push_back(entry.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(manifestFaults(uninstall, backups[0] / "manifest.txt"), std::vector<std::string>{});
    const auto restore =
        traced({"--machine=" + dir.string(), "--restore", backups[0].string()}, "");
    ASSERT_FALSE(restore.empty());
    EXPECT_EQ(orderFaults(restore), std::vector<std::string>{});
  }

  test_support::TempDir m_scratch{"uinq76-order"};
  int m_runs = 0;
};

TEST_F(WriteOrder, OnAMachineDirectory) {
  const fs::path dir = m_scratch.path() / "machine";
  ASSERT_FALSE(demo::writeDemoMachine(dir).has_value());
  uninstallAndRestore(dir);
}

TEST_F(WriteOrder, OnAWindows95Drive) {
  const fs::path dir = m_scratch.path() / "drive";
  ASSERT_FALSE(demo::writeWin9xDrive(dir).has_value());
  uninstallAndRestore(dir);
}

}  // namespace
}  // namespace e2e
