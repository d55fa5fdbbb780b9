// The program run end to end in text mode on machine directories written by
// the tests: the three outcomes, the whole uninstall, a cancelled run and
// machines that cannot be used.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/program_runner.h"

namespace e2e {
namespace {

constexpr const char* kConfirm = "Do you really want to uninstall this software?";
constexpr const char* kNotInstalled =
    "The software is not properly installed. The uninstallation procedure cannot be performed "
    "correcly!";
constexpr const char* kShutdownNotice =
    "The uninstaller need to shut down Windows to complete the uninstalltion process.";
constexpr const char* kShutdownRequested = "shutdown was requested";

const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kInstalledFiles = "System\\CurrentControlSet\\control\\InstalledFiles";
const std::string kKnown16 = "System\\CurrentControlSet\\control\\SessionManager\\Known16DLLs";
const std::string kMedia = "System\\CurrentControlSet\\control\\MediaResources\\";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\";

std::vector<std::string> textUi(const TempMachine& machine) {
  return {machine.machineArg(), "--ui", "text"};
}

// What the run must leave alone whatever it did.
void expectNeighboursKept(const RegistryView& reg) {
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0000\\ROOT&VRD1868&0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0004\\ROOT&OPT0930MEDIA&0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\*PNP0C01\\0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD0"));
  EXPECT_TRUE(
      reg.hasKey(HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD4\\ROOT&OPT0930MEDIA&0000"));
  EXPECT_TRUE(
      reg.hasKey(HKEY_LOCAL_MACHINE, "Config\\0002\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_CURRENT_CONFIG, "Display\\Settings"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kClass + "MEDIA\\0000"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kClass + "MEDIA\\0002"));  // "VJOYD.VXD"
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kClass + "Display"));
  EXPECT_TRUE(reg.hasValue(HKEY_LOCAL_MACHINE, kInstalledFiles, "vmm32.vxd"));
  EXPECT_TRUE(reg.hasValue(HKEY_LOCAL_MACHINE, kInstalledFiles, "msacm32.drv"));
  EXPECT_TRUE(reg.hasValue(HKEY_LOCAL_MACHINE, kKnown16, "mmsystem.dll"));
  EXPECT_TRUE(reg.hasValue(HKEY_LOCAL_MACHINE, kKnown16, "uinq76.exe"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kMedia + "mixer\\vdmixmgr.dll"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kMedia + "midi\\midimap"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Pixel Shed Pro"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ50"));
}

void expectUntouched(const TempMachine& machine, const std::string& registry,
                     const std::string& autoexec) {
  EXPECT_EQ(machine.read("registry.reg"), registry);
  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), autoexec);
  for (const char* inf :
       {"OEM0.INF", "OEM1.INF", "OEM2.INF", "oem3.inf", "OEM4.INF", "SND930P.INF"})
    EXPECT_TRUE(machine.exists(std::string("drive_c/WINDOWS/INF/") + inf)) << inf;
  EXPECT_FALSE(machine.exists("drive_c/AUTOEXEC.@@@"));
}

TEST(TextMode, DecliningChangesNothing) {
  TempMachine machine;
  const auto registry = machine.read("registry.reg");
  const auto autoexec = machine.read("drive_c/AUTOEXEC.BAT");
  // "n", "N" and the end of the input all answer No.
  for (const char* input : {"n\n", "No\n", ""}) {
    const auto run = runProgram(textUi(machine), input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Kivra Q76 Uninstallation"), std::string::npos);
    EXPECT_NE(run.out.find(kConfirm), std::string::npos);
    EXPECT_EQ(run.out.find(kNotInstalled), std::string::npos);
    EXPECT_EQ(run.err.find(kShutdownRequested), std::string::npos);
    expectUntouched(machine, registry, autoexec);
  }
}

TEST(TextMode, NotInstalledForEachCause) {
  struct Case {
    const char* name;
    std::string from, to;
  };
  const std::string title = "\"Title\"=\"Kivra Q76 Audio Drivers\"";
  const Case cases[] = {
      // No product key at all.
      {"no key", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ77]"},
      // The key without its "Title".
      {"no title", title, "\"Name\"=\"x\""},
      // A title of 80 characters does not fit with its terminating zero.
      {"80 characters", title, "\"Title\"=\"" + std::string(80, 'T') + "\""},
      // 80 bytes of text stored without a terminating zero.
      {"80 bytes unterminated", title,
       "\"Title\"=hex(1):" +
           [] {
             std::string hex;
             for (int i = 0; i < 80; ++i) hex += (i ? ",41" : "41");
             return hex;
           }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempMachine machine;
    machine.replaceInRegistry(c.from, c.to);
    const auto registry = machine.read("registry.reg");
    const auto autoexec = machine.read("drive_c/AUTOEXEC.BAT");
    const auto run = runProgram(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(kNotInstalled), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Uninstalling"), std::string::npos);
    expectUntouched(machine, registry, autoexec);
  }
}

TEST(TextMode, UninstallRemovesEverythingTheProductLeft) {
  TempMachine machine;
  const auto config_sys = machine.read("drive_c/CONFIG.SYS");
  const auto run = runProgram(textUi(machine), "y\n\n");
  ASSERT_EQ(run.status, 0) << run.err;

  // The dialog: caption and message with the title, the bar at each step.
  EXPECT_NE(run.out.find("Uninstalling Kivra Q76 Audio Drivers..."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Removing the software 'Kivra Q76 Audio Drivers' from your computer."),
            std::string::npos);
  for (const char* percent : {"60%", "80%", "100%"})
    EXPECT_NE(run.out.find(percent), std::string::npos) << percent;
  EXPECT_NE(run.out.find("[x] Hardware nodes..."), std::string::npos);
  EXPECT_NE(run.out.find("[x] Program registry entries..."), std::string::npos);
  EXPECT_NE(run.out.find("[x] Program files..."), std::string::npos);
  EXPECT_EQ(run.out.find("[x] Program folder in Start menu..."), std::string::npos);
  EXPECT_EQ(run.out.find("[x] Entries in DOS profiles..."), std::string::npos);
  // The notice comes before the shutdown request.
  EXPECT_NE(run.out.find(kShutdownNotice), std::string::npos);
  EXPECT_NE(run.err.find(kShutdownRequested), std::string::npos) << run.err;

  const RegistryView reg(machine.read("registry.reg"));
  // Device nodes, in the machine, in profile 0001 and in the current configuration.
  for (const char* child : {"CHILD0000", "CHILD0001", "CHILD0002", "CHILD0003"}) {
    EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE,
                            std::string("Enum\\MF\\") + child + "\\ROOT&OPT0930MEDIA&0000"));
    EXPECT_FALSE(reg.hasKey(HKEY_CURRENT_CONFIG,
                            std::string("Enum\\MF\\") + child + "\\ROOT&OPT0930MEDIA&0000"));
    EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, std::string("Enum\\MF\\") + child));
  }
  for (const char* child : {"CHILD0", "CHILD1", "CHILD2", "CHILD3"})
    EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, std::string("Config\\0001\\Enum\\MF\\") + child +
                                                    "\\ROOT&OPT0930MEDIA&0000"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, kClass + "OPT0930MEDIA"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, kClass + "MEDIA\\0001"));  // vjoyd.vxd
  for (const char* file : {"snd930p.drv", "snd930p.vxd", "sndm401p.vxd", "sndm401p.drv",
                           "mfvxd.vxd", "sndopl3p.drv", "snd930p.inf", "uinq76.exe", "uinq76d.exe"})
    EXPECT_FALSE(reg.hasValue(HKEY_LOCAL_MACHINE, kInstalledFiles, file)) << file;
  for (const char* file :
       {"snd930p.drv", "snd930p.vxd", "sndm401p.vxd", "sndm401p.drv", "mfvxd.vxd", "sndopl3p.drv"})
    EXPECT_FALSE(reg.hasValue(HKEY_LOCAL_MACHINE, kKnown16, file)) << file;
  for (const char* entry : {"aux\\snd930p.drv", "mixer\\snd930p.drv", "wave\\snd930p.drv",
                            "midi\\sndm401p.drv", "midi\\sndopl3p.drv"})
    EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, kMedia + entry)) << entry;
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Kivra Q76 Audio Drivers"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk"));
  expectNeighboursKept(reg);

  // Marked OEM files go; others, and marked ones with other names, stay.
  EXPECT_FALSE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
  EXPECT_FALSE(machine.exists("drive_c/WINDOWS/INF/OEM2.INF"));
  for (const char* kept : {"OEM0.INF", "oem3.inf", "OEM4.INF", "SND930P.INF"})
    EXPECT_TRUE(machine.exists(std::string("drive_c/WINDOWS/INF/") + kept)) << kept;
  // Driver files are the DOS-side remover's work.
  EXPECT_TRUE(machine.exists("drive_c/WINDOWS/SYSTEM/SND930P.DRV"));

  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"),
            "@ECHO OFF\r\nSET VARDEN=A220 I5 D1 T4\r\nSET SOUND=C:\\Q76\r\n"
            "PATH C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\nREM C:\\MOUSE\\MOUSE.COM\r\n"
            "LH C:\\WINDOWS\\COMMAND\\MSCDEX.EXE /D:Q76CD001 /M:8\r\n"
            "C:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS");
  EXPECT_FALSE(machine.exists("drive_c/AUTOEXEC.@@@"));
  EXPECT_EQ(machine.read("drive_c/CONFIG.SYS"), config_sys);

  // A second run finds nothing installed and changes nothing.
  const auto registry = machine.read("registry.reg");
  const auto autoexec = machine.read("drive_c/AUTOEXEC.BAT");
  const auto again = runProgram(textUi(machine), "y\n\n");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find(kNotInstalled), std::string::npos);
  EXPECT_EQ(machine.read("registry.reg"), registry);
  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), autoexec);
}

TEST(TextMode, TitleOf79CharactersIsTheLongestAccepted) {
  TempMachine machine;
  const std::string title(79, 'T');
  machine.replaceInRegistry("\"Title\"=\"Kivra Q76 Audio Drivers\"", "\"Title\"=\"" + title + "\"");
  machine.write("registry.reg", machine.read("registry.reg") + "[HKEY_LOCAL_MACHINE\\" +
                                    kUninstallKey + title + "\\Sub]\r\n\"A\"=\"b\"\r\n\r\n");
  const auto run = runProgram(textUi(machine), "y\n\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Uninstalling " + title + "..."), std::string::npos) << run.out;
  const RegistryView reg(machine.read("registry.reg"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + title));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Kivra Q76 Audio Drivers"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Pixel Shed Pro"));
}

TEST(TextMode, CtrlCBetweenTicksEndsTheRunAfterTheStepsDone) {
  TempMachine machine;
  const auto autoexec = machine.read("drive_c/AUTOEXEC.BAT");
  ProgramRunner runner(textUi(machine));
  runner.write("y\n");
  ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
  runner.signal(SIGINT);
  EXPECT_EQ(runner.wait(), 0) << runner.errors();
  EXPECT_EQ(runner.output().find("80%"), std::string::npos);
  EXPECT_EQ(runner.output().find(kShutdownNotice), std::string::npos);
  EXPECT_EQ(runner.errors().find(kShutdownRequested), std::string::npos);

  // The first step is on disk; the registration and the files are untouched.
  const RegistryView reg(machine.read("registry.reg"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Kivra Q76 Audio Drivers"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
  EXPECT_TRUE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), autoexec);
}

TEST(TextMode, EmptyTitleKeepsEveryOtherUninstallRegistration) {
  TempMachine machine;
  machine.replaceInRegistry("\"Title\"=\"Kivra Q76 Audio Drivers\"", "\"Title\"=\"\"");
  const auto run = runProgram(textUi(machine), "\n\n");  // the default button is Yes
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Uninstalling ..."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Removing the software '' from your computer."), std::string::npos);
  const RegistryView reg(machine.read("registry.reg"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Pixel Shed Pro"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, kUninstallKey + "Kivra Q76 Audio Drivers"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
}

TEST(TextMode, WindowsOnDriveDAndAShutdownCommand) {
  TempMachine machine;
  // Windows in D:\WIN95, the remover's line still goes into C:\AUTOEXEC.BAT.
  std::string msdos = machine.read("drive_c/MSDOS.SYS");
  msdos.replace(msdos.find("WinDir=C:\\WINDOWS"), 17, "WinDir=D:\\WIN95");
  machine.write("drive_c/MSDOS.SYS", msdos);
  machine.write("drive_d/WIN95/INF/OEM7.INF", "[Strings]\r\nKivraKey=KIVRAQ76INF\r\n");
  machine.write("drive_c/AUTOEXEC.BAT", "  d:\\win95\\uinq76d.exe d:\\old\r\nWIN\r\n");
  // The command runs after the registry reached the disk.
  const std::string copy = (machine.dir() / "at-shutdown.reg").string();
  const std::string command =
      "cp '" + (machine.dir() / "registry.reg").string() + "' '" + copy + "'";
  const auto run =
      runProgram({machine.machineArg(), "--ui=text", "--on-shutdown", command}, "y\n\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(machine.exists("drive_d/WIN95/INF/OEM7.INF"));
  EXPECT_TRUE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), "D:\\WIN95\\UINQ76D.EXE D:\\WIN95\r\nWIN\r\n");
  EXPECT_EQ(machine.read("at-shutdown.reg"), machine.read("registry.reg"));
  EXPECT_FALSE(RegistryView(machine.read("at-shutdown.reg"))
                   .hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));

  // A failing command is reported and changes nothing of the outcome.
  TempMachine second;
  const auto failed =
      runProgram({second.machineArg(), "--ui=text", "--on-shutdown", "exit 3"}, "y\n\n");
  EXPECT_EQ(failed.status, 0);
  EXPECT_NE(failed.err.find("the shutdown command failed (exit status 3)"), std::string::npos)
      << failed.err;
}

TEST(TextMode, MachinesThatCannotBeUsedAreRefusedUntouched) {
  // A directory that does not exist, and one without registry.reg.
  {
    const auto run = runProgram({"--machine", "/nonexistent/uinq76-machine", "--ui", "text"}, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("/nonexistent/uinq76-machine"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--machine"), std::string::npos);
    EXPECT_EQ(run.out.find(kConfirm), std::string::npos);
  }
  {
    TempMachine machine;
    machine.remove("registry.reg");
    const auto run = runProgram(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("registry.reg"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find(kConfirm), std::string::npos);
  }
  // A malformed registry: refused with the file and line, left as it was.
  {
    TempMachine machine;
    machine.write("registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:zz\r\n");
    const auto before = machine.read("registry.reg");
    const auto run = runProgram(textUi(machine), "y\n\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("registry.reg: line 4"), std::string::npos) << run.err;
    EXPECT_EQ(machine.read("registry.reg"), before);
    EXPECT_EQ(run.out.find(kConfirm), std::string::npos);
  }
  // A registry that another program holds.
  {
    TempMachine machine;
    const auto before = machine.read("registry.reg");
    const int fd = open((machine.dir() / "registry.reg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const auto run = runProgram(textUi(machine), "y\n\n");
    close(fd);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("in use by another program"), std::string::npos) << run.err;
    EXPECT_EQ(machine.read("registry.reg"), before);
  }
  // Options that make no sense.
  {
    const auto run = runProgram({"--ui", "fancy"}, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("fancy"), std::string::npos);
  }
  // A restore that names no backup, in either spelling.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--restore="}, std::vector<std::string>{"--restore", ""}}) {
    TempMachine machine;
    std::vector<std::string> full = {machine.machineArg()};
    full.insert(full.end(), args.begin(), args.end());
    const auto run = runProgram(full, "");
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("--restore needs a backup"), std::string::npos) << run.err;
  }
}

TEST(TextMode, TheDefaultMachineComesOnlyFromAnAbsoluteFolder) {
  // The machine lies where HOME puts it.
  TempMachine machine;
  test_support::TempDir home{"uinq76-home"};
  const std::filesystem::path place = home.path() / ".local/share/uinq76/machine";
  std::filesystem::create_directories(place.parent_path());
  std::filesystem::copy(machine.dir(), place, std::filesystem::copy_options::recursive);
  const std::string home_env = "HOME=" + home.path().string();

  // A relative XDG_DATA_HOME would name a folder below wherever the program
  // started: it is passed over for HOME.
  const auto relative =
      runProgram({"--list-backups"}, "", {home_env, "XDG_DATA_HOME=xdg-relative"});
  EXPECT_EQ(relative.status, 0) << relative.err;
  EXPECT_FALSE(std::filesystem::exists("xdg-relative"));
  // An absolute one is taken, so a machine missing there is refused.
  const auto absolute = runProgram({"--list-backups"}, "",
                                   {home_env, "XDG_DATA_HOME=" + (home.path() / "xdg").string()});
  EXPECT_EQ(absolute.status, 2) << absolute.err;
  EXPECT_NE(absolute.err.find((home.path() / "xdg").string()), std::string::npos) << absolute.err;
  // Neither an absolute XDG_DATA_HOME nor an absolute HOME: no default.
  const auto none = runProgram({"--list-backups"}, "", {"HOME=home-relative", "XDG_DATA_HOME=x"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("--machine DIR"), std::string::npos) << none.err;
}

}  // namespace
}  // namespace e2e
