// The program on machines and in surroundings that a careless or hostile user
// may hand it: closed standard descriptors, named pipes where files belong,
// a registry that cannot be saved, a full drive, files owned by someone else,
// foreign registry exports and titles holding terminal escape codes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/program_runner.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr const char* kNotInstalled = "The software is not properly installed.";

std::vector<std::string> textUi(const TempMachine& machine) {
  return {machine.machineArg(), "--ui", "text"};
}

// Runs the program with `input` and waits at most 20 s for its end.
RunResult runWithDeadline(const std::vector<std::string>& args, const std::string& input,
                          const std::string& shell_setup = {}) {
  ProgramRunner runner(args, {}, shell_setup);
  runner.write(input);
  runner.closeInput();
  RunResult result;
  result.status = runner.wait(seconds(20));
  result.out = runner.output();
  result.err = runner.errors();
  return result;
}

std::string quoted(const fs::path& path) {
  std::string text = path.string();
  text.insert(text.begin(), '\'');
  text += '\'';
  return text;
}

TEST(HostileMachine, ClosedOutputOrErrorNeverLandsInTheMachine) {
  // Standard error closed, then standard output: neither the shutdown line
  // nor the dialog's text may land in a file of the machine.
  for (const char* closing : {"exec 2>&-", "exec 1>&-"}) {
    TempMachine machine;
    const auto run = runWithDeadline(
        {machine.machineArg(), "--ui", "text", "--on-shutdown", "true"}, "y\n\n", closing);
    ASSERT_EQ(run.status, 0) << closing << ": " << run.out << run.err;
    const std::string registry = machine.read("registry.reg");
    EXPECT_EQ(registry.find("uinq76:"), std::string::npos) << closing;
    EXPECT_EQ(registry.find("Progress:"), std::string::npos) << closing;
    EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT").find("Progress:"), std::string::npos);
    // The registry reads back, and a second run finds the product gone.
    EXPECT_FALSE(RegistryView(registry).hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
    const auto second = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(second.status, 0) << closing << ": " << second.err;
    EXPECT_NE(second.out.find(kNotInstalled), std::string::npos) << closing << ": " << second.out;
  }
}

TEST(HostileMachine, NamedPipesAreRefusedWithoutWaiting) {
  // As the registry: refused at once, exit 2, the pipe left as it was.
  {
    TempMachine machine;
    machine.remove("registry.reg");
    ASSERT_EQ(::mkfifo((machine.dir() / "registry.reg").c_str(), 0644), 0);
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 2) << "a status of -1 means the program hung: " << run.err;
    EXPECT_NE(run.err.find("registry.reg: not a regular file"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_fifo(machine.dir() / "registry.reg"));
  }
  // As MSDOS.SYS and AUTOEXEC.BAT: they cannot be opened; the run goes on
  // with the default Windows directory and leaves the startup file alone.
  {
    TempMachine machine;
    for (const char* name : {"drive_c/MSDOS.SYS", "drive_c/AUTOEXEC.BAT"}) {
      machine.remove(name);
      ASSERT_EQ(::mkfifo((machine.dir() / name).c_str(), 0644), 0) << name;
    }
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 0) << "a status of -1 means the program hung: " << run.err;
    EXPECT_FALSE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
    EXPECT_TRUE(fs::is_fifo(machine.dir() / "drive_c/AUTOEXEC.BAT"));
    EXPECT_FALSE(machine.exists("drive_c/AUTOEXEC.@@@"));
  }
}

TEST(HostileMachine, NoShutdownCommandWhenTheRegistryCannotBeSaved) {
  TempMachine machine;
  const std::string before = machine.read("registry.reg");
  // A folder where the save's temporary file goes makes every save fail.
  fs::create_directory(machine.dir() / ".registry.reg.uinq76-tmp");
  const fs::path ran = machine.dir() / "shutdown-ran";
  const auto run = runWithDeadline(
      {machine.machineArg(), "--ui", "text", "--on-shutdown", "touch " + quoted(ran)}, "y\n\n");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_FALSE(fs::exists(ran)) << "the shutdown command ran although nothing was saved";
  EXPECT_NE(run.err.find("registry could not be saved"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("shutdown command is not run"), std::string::npos) << run.err;
  EXPECT_EQ(machine.read("registry.reg"), before);
}

TEST(HostileMachine, RewrittenFilesKeepTheirModeAndOwner) {
  TempMachine machine;
  const fs::path registry = machine.dir() / "registry.reg";
  const fs::path autoexec = machine.dir() / "drive_c/AUTOEXEC.BAT";
  ASSERT_EQ(::chmod(registry.c_str(), 0640), 0);
  ASSERT_EQ(::chmod(autoexec.c_str(), 0600), 0);
  // Root can hand the machine to another user first, as on a shared disk.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(registry.c_str(), 4321, 4322), 0);
    ASSERT_EQ(::chown(autoexec.c_str(), 4321, 4322), 0);
  }
  const auto run = runWithDeadline(textUi(machine), "y\n\n");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_NE(machine.read("drive_c/AUTOEXEC.BAT").find("UINQ76D.EXE"), std::string::npos);
  for (const auto& [path, mode] : {std::pair{registry, 0640u}, std::pair{autoexec, 0600u}}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
    if (root) {
      EXPECT_EQ(st.st_uid, 4321u) << path;
      EXPECT_EQ(st.st_gid, 4322u) << path;
    }
  }
  if (!root) std::cout << "[ NOTE ] owners are checked only when run as root\n";
}

TEST(HostileMachine, FailedFileChangesAreReportedAtTheEnd) {
  // Access refused: a read-only file stands where the startup file's copy goes.
  {
    TempMachine machine;
    const std::string autoexec = machine.read("drive_c/AUTOEXEC.BAT");
    machine.write("drive_c/AUTOEXEC.@@@", "old copy");
    ASSERT_EQ(::chmod((machine.dir() / "drive_c/AUTOEXEC.@@@").c_str(), 0444), 0);
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("could not change C:\\AUTOEXEC.@@@: access refused"), std::string::npos)
        << run.err;
    EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), autoexec);
    // The dialog ran to its end all the same.
    EXPECT_NE(run.out.find("Progress: 100%"), std::string::npos);
  }
  // No space: a file-size limit of 32 KB (dash counts it in 512-byte blocks)
  // lets the 9 KB registry and the backup's byte-for-byte copy of a 30 KB
  // startup file with bare line feeds through, but not its rewritten copy,
  // which ends every line with a carriage return and a line feed.
  {
    TempMachine machine;
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "REM a\n";
    machine.write("drive_c/AUTOEXEC.BAT", big);
    const auto run = runWithDeadline(textUi(machine), "y\n\n", "trap '' XFSZ\nulimit -f 64");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("could not change C:\\AUTOEXEC.@@@: no space left on the drive"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), big);
    EXPECT_FALSE(RegistryView(machine.read("registry.reg"))
                     .hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
  }
}

TEST(HostileMachine, MessagesSayWhatIsWrong) {
  // A UTF-16 export of a later regedit is named for what it is.
  {
    TempMachine machine;
    std::string utf16 = "\xFF\xFE";
    for (char c :
         std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n"))
      utf16 += std::string{c, '\0'};
    machine.write("registry.reg", utf16);
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("\"Windows Registry Editor Version 5.00\" export in UTF-16"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("REGEDIT4"), std::string::npos);
    EXPECT_EQ(machine.read("registry.reg"), utf16);
  }
  // The help says that a drive folder may be a link and where it confines.
  {
    const auto run = runWithDeadline({"--help"}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("A drive folder may be a link"), std::string::npos) << run.out;
  }
  // Without HOME there is no default machine, rather than one relative to
  // wherever the program was started.
  {
    const auto run =
        runWithDeadline({"--ui", "text"}, "y\n\n", "unset HOME XDG_DATA_HOME\ncd /tmp");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("HOME is not set"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--machine DIR"), std::string::npos);
  }
  // A registry line quoted in a message keeps its escape codes harmless too.
  {
    TempMachine machine;
    machine.write("registry.reg", "REGEDIT4\r\n\r\n[HKEY_\x1b[2JNOWHERE\\A]\r\n");
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("HKEY_\\x1b[2JNOWHERE"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
  }
  // A title with terminal escape codes is shown, never obeyed.
  {
    TempMachine machine;
    machine.replaceInRegistry("\"Title\"=\"Kivra Q76 Audio Drivers\"",
                              "\"Title\"=\"Kivra\x1b]0;owned\x07\x1b[2J\rQ76\"");
    const auto run = runWithDeadline(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Uninstalling Kivra\\x1b]0;owned\\x07\\x1b[2J\\x0dQ76..."),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.out.find('\x07'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
  }
}

}  // namespace
}  // namespace e2e
