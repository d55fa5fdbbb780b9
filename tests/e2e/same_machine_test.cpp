// The same machine as a machine directory and as a Windows 95 drive C: (see
// machine_forms.h for how one description makes both and how they compare):
// after every outcome of a run the two hold the same registry, drives and
// backup, and the program ended with the same status and said the same. Two
// differences are by design and left out: only the drive form is announced
// ("the machine ... is a Windows 95 drive C: (...)"), and a backup's manifest
// fingerprints the registry file in that form's own format; a drive's backup
// also holds SYSTEM.DAT whole, with the digest of each one the run wrote.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/e2e/machine_forms.h"
#include "tests/e2e/program_runner.h"

namespace e2e {
namespace {

constexpr const char* kNotInstalled = "The software is not properly installed.";
constexpr const char* kOffer = "Do you want to finish it now?";

enum class Form { Directory, Drive };

const char* nameOf(Form form) { return form == Form::Directory ? "directory" : "drive"; }

std::vector<std::string> argsOf(const MachineForms& forms, Form form) {
  return form == Form::Directory ? forms.directoryArgs() : forms.driveArgs();
}

const std::filesystem::path& machineOf(const MachineForms& forms, Form form) {
  return form == Form::Directory ? forms.directory() : forms.drive();
}

// The registries, drives and backups of the two forms are the same.
void expectSameMachine(const MachineForms& forms) {
  EXPECT_EQ(firstDifferentLine(forms.directoryRegistry(), forms.driveRegistry()), "");
  EXPECT_EQ(firstDifference(forms.directoryDrives(), forms.driveDrives()), "");
  const Snapshot directory = forms.directoryBackup();
  const Snapshot drive = forms.driveBackup();
  EXPECT_EQ(firstDifference(directory, drive), "");
  if (directory.count("manifest.txt") && drive.count("manifest.txt")) {
    EXPECT_EQ(firstDifferentLine(directory.at("manifest.txt"), drive.at("manifest.txt")), "");
  }
}

// Both runs ended alike and said the same, but for the form and the paths.
void expectSameRun(const MachineForms& forms, const RunResult& directory, const RunResult& drive) {
  EXPECT_EQ(directory.status, drive.status) << directory.err << "\n----\n" << drive.err;
  EXPECT_EQ(firstDifferentLine(forms.normalised(directory.out), forms.normalised(drive.out)), "");
  EXPECT_EQ(firstDifferentLine(forms.normalised(directory.err), forms.normalised(drive.err)), "");
}

// Runs the program on both forms with the same input and compares.
std::pair<RunResult, RunResult> runBoth(const MachineForms& forms, const std::string& input) {
  RunResult directory = runProgram(forms.directoryArgs(), input);
  RunResult drive = runProgram(forms.driveArgs(), input);
  expectSameRun(forms, directory, drive);
  expectSameMachine(forms);
  return {std::move(directory), std::move(drive)};
}

// The machine with one hardware profile, 0001, and the demo's own with two.
void oneProfile(std::string& registry) { dropKeys(registry, "HKEY_LOCAL_MACHINE\\Config\\0002"); }

struct Machine {
  const char* name;
  void (*edit)(std::string&);
};
const Machine kMachines[] = {{"one profile", oneProfile}, {"two profiles", nullptr}};

TEST(SameMachine, TheTwoFormsStartAlike) {
  for (const auto& machine : kMachines) {
    SCOPED_TRACE(machine.name);
    const MachineForms forms(machine.edit);
    const std::vector<std::string> profiles =
        machine.edit ? std::vector<std::string>{"0001"} : std::vector<std::string>{"0001", "0002"};
    EXPECT_EQ(forms.profiles(), profiles);
    expectSameMachine(forms);
  }
}

TEST(SameMachine, Uninstalled) {
  for (const auto& machine : kMachines) {
    SCOPED_TRACE(machine.name);
    const MachineForms forms(machine.edit);
    const std::string before = forms.driveRegistry();
    const auto [directory, drive] = runBoth(forms, "y\n\n");
    EXPECT_EQ(drive.status, 0) << drive.err;
    EXPECT_NE(drive.err.find("shutdown was requested"), std::string::npos) << drive.err;
    EXPECT_NE(forms.driveRegistry(), before);
    // What the current configuration lost, every profile of the drive lost.
    for (const std::string& profile : forms.profiles())
      EXPECT_EQ(forms.driveRegistry().find("Config\\" + profile +
                                           "\\Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000]"),
                std::string::npos)
          << profile;
    // Both list their one backup alike.
    const auto listed = std::pair{runProgram({forms.directoryArgs()[0], "--list-backups"}, ""),
                                  runProgram({forms.driveArgs()[0], "--list-backups"}, "")};
    expectSameRun(forms, listed.first, listed.second);
    EXPECT_NE(listed.second.out.find("uinq76-"), std::string::npos) << listed.second.out;
    // A second run finds nothing installed, on either form alike.
    const auto again = runBoth(forms, "y\n\n");
    EXPECT_NE(again.second.out.find(kNotInstalled), std::string::npos) << again.second.out;
  }
}

TEST(SameMachine, DeclinedAndNotInstalledForEachCause) {
  const std::string title = "\"Title\"=\"Kivra Q76 Audio Drivers\"";
  auto replace = [](std::string from, std::string to) {
    return [from, to](std::string& registry) {
      const std::size_t at = registry.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      registry.replace(at, from.size(), to);
    };
  };
  std::string unterminated = "\"Title\"=hex(1):41";
  for (int i = 1; i < 80; ++i) unterminated += ",41";
  struct Case {
    const char* name;
    std::function<void(std::string&)> edit;
    const char* input;
    bool notInstalled;
  };
  const Case cases[] = {
      {"declined, one profile", oneProfile, "n\n", false},
      {"declined, two profiles", {}, "n\n", false},
      {"declined by the end of the input", {}, "", false},
      {"no product key",
       replace("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ77]"),
       "y\n\n", true},
      {"no title", replace(title, "\"Name\"=\"x\""), "y\n\n", true},
      {"a title of 80 characters", replace(title, "\"Title\"=\"" + std::string(80, 'T') + "\""),
       "y\n\n", true},
      {"80 bytes without a terminating zero", replace(title, unterminated), "y\n\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MachineForms forms(c.edit);
    const std::string registry = forms.driveRegistry();
    const Snapshot files = forms.driveDrives();
    const auto [directory, drive] = runBoth(forms, c.input);
    EXPECT_EQ(drive.status, 0) << drive.err;
    EXPECT_EQ(drive.out.find(kNotInstalled) != std::string::npos, c.notInstalled) << drive.out;
    // Nothing changed, and the drive holds nothing new: no backup either.
    EXPECT_EQ(forms.driveRegistry(), registry);
    EXPECT_EQ(firstDifference(files, forms.driveDrives()), "");
    EXPECT_FALSE(std::filesystem::exists(forms.drive() / "backups"));
  }
}

// Waits for `shown` and then until the run's record says `progress`, and
// kills the program at once (also when the wait failed): between two steps,
// which are half a second apart, or with the last box open. Returns what
// went wrong, or an empty text.
std::string killAfter(ProgramRunner& runner, const std::filesystem::path& machine,
                      const std::string& shown, const std::string& progress) {
  std::string error;
  if (!runner.waitForOutput(shown)) error = "never shown: " + shown + "\n" + runner.output();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (error.empty() && lastProgress(machine) != progress) {
    if (std::chrono::steady_clock::now() > deadline)
      error =
          "the record never said \"" + progress + "\"; it says \"" + lastProgress(machine) + "\"";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  runner.signal(SIGKILL);
  return error;
}

TEST(SameMachine, CancelledThenLeftThenFinished) {
  for (const auto& machine : kMachines) {
    SCOPED_TRACE(machine.name);
    const MachineForms forms(machine.edit);
    RunResult runs[2];
    for (Form form : {Form::Directory, Form::Drive}) {
      SCOPED_TRACE(nameOf(form));
      // Ctrl-C while the bar stands at the first step ends the run after it.
      ProgramRunner runner(argsOf(forms, form));
      runner.write("y\n");
      ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
      runner.signal(SIGINT);
      runs[form == Form::Drive].status = runner.wait();
      runs[form == Form::Drive].out = runner.output();
      runs[form == Form::Drive].err = runner.errors();
      EXPECT_EQ(runs[form == Form::Drive].status, 0) << runner.errors();
      EXPECT_EQ(lastProgress(machineOf(forms, form)), "step 1 done");
    }
    expectSameRun(forms, runs[0], runs[1]);
    expectSameMachine(forms);
    // The next start offers to finish: No leaves both as they are, Yes
    // finishes both.
    const auto left = runBoth(forms, "n\n");
    EXPECT_NE(left.second.out.find(kOffer), std::string::npos) << left.second.out;
    const auto finished = runBoth(forms, "y\n\n");
    EXPECT_NE(finished.second.out.find(kOffer), std::string::npos) << finished.second.out;
    EXPECT_EQ(lastProgress(forms.drive()), "finished");
  }
}

TEST(SameMachine, FinishedAfterAKill) {
  struct Kill {
    const char* shown;
    const char* progress;
  };
  // Killed between two steps, or with the shutdown notice open: the last
  // step is recorded as done only once the shutdown was asked for, so that
  // run is finished by running the last step (files only) again.
  const Kill kills[] = {{"60%", "step 1 done"},
                        {"80%", "step 2 done"},
                        {"The uninstaller need to shut down", "step 3 started"}};
  for (const auto& machine : kMachines) {
    for (const Kill& kill : kills) {
      SCOPED_TRACE(std::string(machine.name) + ", killed after " + kill.progress);
      const MachineForms forms(machine.edit);
      for (Form form : {Form::Directory, Form::Drive}) {
        SCOPED_TRACE(nameOf(form));
        ProgramRunner runner(argsOf(forms, form));
        runner.write("y\n");
        EXPECT_EQ(killAfter(runner, machineOf(forms, form), kill.shown, kill.progress), "");
        EXPECT_EQ(runner.wait(), 128 + SIGKILL);
      }
      // Killed at the same point of the run, the two hold the same.
      ASSERT_EQ(lastProgress(forms.directory()), kill.progress);
      ASSERT_EQ(lastProgress(forms.drive()), kill.progress);
      expectSameMachine(forms);
      const auto finished = runBoth(forms, "y\n\n");
      EXPECT_EQ(finished.second.status, 0) << finished.second.err;
      EXPECT_NE(finished.second.out.find(kOffer), std::string::npos) << finished.second.out;
      EXPECT_EQ(lastProgress(forms.drive()), "finished");
    }
  }
}

}  // namespace
}  // namespace e2e
