// The backup of a run, --restore and --list-backups, and the finishing of a
// run that was cut off, on machine directories written by the tests.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <functional>

#include "platform/registry/registry_store.h"
#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/machine_snapshot.h"
#include "tests/e2e/program_runner.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTitleLine = "\"Title\"=\"Kivra Q76 Audio Drivers\"";
const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::vector<std::string> textUi(const TempMachine& machine) {
  return {machine.machineArg(), "--ui", "text"};
}

RunResult restore(const TempMachine& machine, const std::string& backup) {
  return runProgram({machine.machineArg(), "--restore", backup}, "");
}

TEST(Backup, UninstallThenRestoreGivesBackEveryEndToEndMachine) {
  const std::vector<std::pair<const char*, std::function<void(const TempMachine&)>>> machines = {
      {"demo machine", [](const TempMachine&) {}},
      {"title of 79 characters",
       [](const TempMachine& m) {
         const std::string title(79, 'T');
         m.replaceInRegistry(kTitleLine, "\"Title\"=\"" + title + "\"");
         m.write("registry.reg", m.read("registry.reg") + "[HKEY_LOCAL_MACHINE\\" + kUninstallKey +
                                     title + "\\Sub]\r\n\"A\"=\"b\"\r\n\r\n");
       }},
      {"empty title",
       [](const TempMachine& m) { m.replaceInRegistry(kTitleLine, "\"Title\"=\"\""); }},
      {"Windows on D:",
       [](const TempMachine& m) {
         std::string msdos = m.read("drive_c/MSDOS.SYS");
         msdos.replace(msdos.find("WinDir=C:\\WINDOWS"), 17, "WinDir=D:\\WIN95");
         m.write("drive_c/MSDOS.SYS", msdos);
         m.write("drive_d/WIN95/INF/OEM7.INF", "[Strings]\r\nKivraKey=KIVRAQ76INF\r\n");
         m.write("drive_c/AUTOEXEC.BAT", "  d:\\win95\\uinq76d.exe d:\\old\r\nWIN\r\n");
       }},
      {"no AUTOEXEC.BAT", [](const TempMachine& m) { m.remove("drive_c/AUTOEXEC.BAT"); }},
      {"private AUTOEXEC.BAT and INF file",
       [](const TempMachine& m) {
         ::chmod((m.dir() / "drive_c/AUTOEXEC.BAT").c_str(), 0600);
         ::chmod((m.dir() / "drive_c/WINDOWS/INF/OEM1.INF").c_str(), 0640);
       }},
  };
  int byte_for_byte = 0;
  for (const auto& [name, prepare] : machines) {
    SCOPED_TRACE(name);
    TempMachine machine;
    prepare(machine);
    const Snapshot before = snapshotMachine(machine.dir());
    const std::string registry_before = machine.read("registry.reg");

    const auto run = runProgram(textUi(machine), "y\n\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("backup written to"), std::string::npos) << run.err;
    const auto backup = newestCompleteBackup(machine.dir());
    ASSERT_FALSE(backup.empty());
    EXPECT_NE(firstDifference(before, snapshotMachine(machine.dir())), "");
    // A backup holds the registry and private files: only its owner reads it.
    struct stat folder {};
    ASSERT_EQ(::stat(backup.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    for (const auto& entry : fs::directory_iterator(backup)) {
      struct stat copy {};
      ASSERT_EQ(::stat(entry.path().c_str(), &copy), 0);
      EXPECT_EQ(copy.st_mode & 0777, 0600u) << entry.path();
    }

    const auto listed = runProgram({machine.machineArg(), "--list-backups"}, "");
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find(backup.filename().string() + "  "), std::string::npos);
    EXPECT_NE(listed.out.find("uninstalled"), std::string::npos) << listed.out;

    const auto restored = restore(machine, backup.filename().string());
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");
    // A registry in the store's own layout comes back byte for byte; one in
    // another layout was rewritten in it by the run's first save already.
    auto loaded = RegistryStore::fromText(registry_before, "registry.reg");
    ASSERT_TRUE(loaded.ok());
    if (loaded.value()->toText() == registry_before) {
      EXPECT_EQ(machine.read("registry.reg"), registry_before);
      ++byte_for_byte;
    }

    // A second restore (say, after a crash at its very end) changes nothing.
    const auto again = restore(machine, backup.string());
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("was restored already; nothing was changed"), std::string::npos)
        << again.out;
    EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");
  }
  EXPECT_GE(byte_for_byte, 5);
}

TEST(Backup, RestoreNamesEveryPlaceTheMachineChangedAndChangesNothing) {
  TempMachine machine;
  ASSERT_EQ(runProgram(textUi(machine), "y\n\n").status, 0);
  const auto backup = newestCompleteBackup(machine.dir()).filename().string();

  // Since the uninstall: another OEM1.INF, an edited AUTOEXEC.BAT and the
  // product's key again.
  machine.write("drive_c/WINDOWS/INF/OEM1.INF", "[Strings]\r\nKivraKey=OTHER\r\n");
  machine.write("drive_c/AUTOEXEC.BAT", machine.read("drive_c/AUTOEXEC.BAT") + "\r\nREM mine\r\n");
  machine.write("registry.reg", machine.read("registry.reg") +
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]\r\n\r\n");
  const Snapshot changed = snapshotMachine(machine.dir());

  const auto run = restore(machine, backup);
  EXPECT_EQ(run.status, 1);
  for (const char* place : {"C:\\WINDOWS\\INF\\OEM1.INF", "C:\\AUTOEXEC.BAT",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76: the key exists again"})
    EXPECT_NE(run.err.find(place), std::string::npos) << place << "\n" << run.err;
  EXPECT_EQ(run.err.find("OEM2.INF"), std::string::npos) << run.err;
  EXPECT_EQ(firstDifference(changed, snapshotMachine(machine.dir())), "");

  // A backup that does not exist.
  EXPECT_EQ(restore(machine, "uinq76-19990101-000000").status, 2);
}

TEST(Backup, ABackupThatCannotBeWrittenStopsTheRunBeforeAnyRemoval) {
  TempMachine machine;
  machine.write("backups", "not a folder");
  const Snapshot before = snapshotMachine(machine.dir());
  const auto run = runProgram(textUi(machine), "y\n\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the backup could not be written, so nothing was removed"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("backups"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("60%"), std::string::npos) << run.out;
  EXPECT_EQ(run.err.find("shutdown was requested"), std::string::npos);
  EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");
}

// A backup that fails part way (here a file-size limit stops its first
// larger copy) leaves no folder behind, under either name.
TEST(Backup, ABackupThatFailsPartWayLeavesNothingBehind) {
  TempMachine machine;
  const Snapshot before = snapshotMachine(machine.dir());
  const auto run = runProgram(textUi(machine), "y\n\n", {}, "trap '' XFSZ\nulimit -f 1");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the backup could not be written, so nothing was removed"),
            std::string::npos)
      << run.err;
  ASSERT_TRUE(machine.exists("backups")) << "the run stopped before it began the backup";
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(machine.dir() / "backups"))
    left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.front();
  EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");
}

TEST(Backup, ACutOffRunIsOfferedOnTheNextStartAndFinishedOrLeft) {
  TempMachine reference;
  ASSERT_EQ(runProgram(textUi(reference), "y\n\n").status, 0);
  const Snapshot uninstalled = snapshotMachine(reference.dir());

  TempMachine machine;
  {
    ProgramRunner runner(textUi(machine));
    runner.write("y\n");
    ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0) << runner.errors();
  }
  const Snapshot cut_off = snapshotMachine(machine.dir());

  // No leaves the machine as it is.
  const auto declined = runProgram(textUi(machine), "n\n");
  EXPECT_EQ(declined.status, 0);
  EXPECT_NE(declined.out.find("The uninstallation of 'Kivra Q76 Audio Drivers' was interrupted"),
            std::string::npos)
      << declined.out;
  EXPECT_NE(declined.out.find("Not done yet: Program registry entries, Program files."),
            std::string::npos)
      << declined.out;
  EXPECT_EQ(declined.out.find("Do you really want to uninstall"), std::string::npos);
  EXPECT_EQ(firstDifference(cut_off, snapshotMachine(machine.dir())), "");

  // Yes runs the remaining steps with the same title: the dialog starts where
  // the run stopped.
  const auto finished = runProgram(textUi(machine), "y\n\n");
  ASSERT_EQ(finished.status, 0) << finished.err;
  EXPECT_NE(finished.out.find("Uninstalling Kivra Q76 Audio Drivers..."), std::string::npos);
  EXPECT_EQ(finished.out.find("Progress: 0%"), std::string::npos) << finished.out;
  EXPECT_NE(finished.out.find("Progress: 100%"), std::string::npos) << finished.out;
  EXPECT_EQ(firstDifference(uninstalled, snapshotMachine(machine.dir())), "");

  // Finished, it is no longer offered, and its backup restores the machine.
  const auto next = runProgram(textUi(machine), "n\n");
  EXPECT_NE(next.out.find("Do you really want to uninstall"), std::string::npos) << next.out;
  TempMachine original;
  const auto backup = newestCompleteBackup(machine.dir()).filename().string();
  ASSERT_EQ(restore(machine, backup).status, 0);
  EXPECT_EQ(firstDifference(snapshotMachine(original.dir()), snapshotMachine(machine.dir())), "");
}

// A backup is written under a temporary name and named only when whole: what
// a run stopped while writing it left is never listed and goes on the next
// start, with one line.
TEST(Backup, ABackupCutOffWhileWrittenIsNeverListedAndGoesOnTheNextStart) {
  TempMachine machine;
  const std::string partial = ".partial-uinq76-20261207-180000";
  machine.write("backups/" + partial + "/registry-1.reg", "REGEDIT4\r\n");
  machine.write("backups/" + partial + "/file-1", "[Strings]\r\n");
  const Snapshot before = snapshotMachine(machine.dir());

  const auto listed = runProgram({machine.machineArg(), "--list-backups"}, "");
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out.find("partial"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("unreadable"), std::string::npos) << listed.out;
  EXPECT_TRUE(machine.exists("backups/" + partial));

  const auto next = runProgram(textUi(machine), "n\n");
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(next.err, "uinq76: removed the unfinished backup " + partial +
                          " of a run that was stopped before it removed anything\n");
  EXPECT_FALSE(machine.exists("backups/" + partial));
  EXPECT_NE(next.out.find("Do you really want to uninstall"), std::string::npos) << next.out;
  EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");

  // A run writes its backup under its own name only once it is whole.
  const auto run = runProgram(textUi(machine), "y\n\n");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(machine.dir() / "backups"))
    names.push_back(entry.path().filename().string());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].rfind("uinq76-", 0), 0u) << names[0];
  EXPECT_TRUE(machine.exists("backups/" + names[0] + "/manifest.txt"));
}

// A manifest whose title the program could not hold whole is not finished:
// cut to 79 characters, the title could name another program's registration.
TEST(Backup, ARecordedTitleTooLongIsNotFinished) {
  TempMachine machine;
  {
    ProgramRunner runner(textUi(machine));
    runner.write("y\n");
    ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0) << runner.errors();
  }
  const auto manifest = newestCompleteBackup(machine.dir()) / "manifest.txt";
  const std::string relative = fs::relative(manifest, machine.dir()).string();
  std::string text = machine.read(relative);
  const auto title = text.find("title ");
  text.replace(title, text.find('\n', title) - title, "title " + std::string(80, 'T'));
  machine.write(relative, text);
  const Snapshot before = snapshotMachine(machine.dir());

  const auto run = runProgram(textUi(machine), "n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("the recorded title or key name is too long"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("was interrupted"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Do you really want to uninstall"), std::string::npos) << run.out;
  EXPECT_EQ(firstDifference(before, snapshotMachine(machine.dir())), "");
}

}  // namespace
}  // namespace e2e
