#include "shell/host/host.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/fs/write_failures.h"
#include "platform/system/shutdown.h"
#include "platform/systemdat/system_dat_file.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/curses/curses_backend.h"
#include "platform/toolkit/qt/qt_backend.h"
#include "platform/toolkit/text/dialog_text.h"
#include "platform/toolkit/text/text_backend.h"
#include "shell/backup/backup_folder.h"
#include "shell/host/backup_commands.h"
#include "shell/host/host_options.h"
#include "shell/host/machine.h"
#include "shell/host/outcome.h"
#include "shell/host/reporter.h"
#include "shell/host/run_journal.h"
#include "shell/host/standard_descriptors.h"

namespace host {
namespace {

bool displayPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// A shutdown request makes the machine's state final: the registry and every
// file reach the disk before anything else happens. The Linux host is never
// shut down; a configured command stands in for the shutdown.
bool handleShutdown(Machine& machine, const std::optional<std::string>& command, UINT flags,
                    bool& write_failed) {
  if (auto flushed = machine.flush(); !flushed) {
    // Shutting down now would leave the machine without the registry the run
    // made; the command, which stands for the shutdown, is not run.
    report(flushed.error());
    report(
        "the machine's shutdown was requested, but its registry could not be saved; "
        "the shutdown is not carried out" +
        std::string(command ? " and the shutdown command is not run" : ""));
    write_failed = true;
    return false;
  }
  ::sync();
  report("the machine's shutdown was requested (ExitWindowsEx, flags " + std::to_string(flags) +
         ")");
  if (command) {
    std::fflush(stdout);
    const int status = std::system(command->c_str());
    if (status == -1) {
      report("could not run the shutdown command: " + *command);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      report("the shutdown command failed (" +
             (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : std::string("ended by a signal")) +
             "): " + *command);
    }
  }
  return true;
}

}  // namespace

int runHost(int argc, char** argv, const UninstallSteps* steps) {
  // Before anything is opened: a closed standard error would otherwise be the
  // number the registry file gets, and messages would land in it.
  if (!openMissingStandardDescriptors()) return 2;
  const auto parsed = parseHostOptions(std::span<const char* const>(
      const_cast<const char* const*>(argv) + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0)));
  if (!parsed) {
    report(parsed.error() + "\nTry 'uinq76 --help'.");
    return 2;
  }
  const HostOptions& options = parsed.value();
  if (options.showHelp) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (options.showVersion) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }

  const bool gui =
      options.ui == UiChoice::Gui || (options.ui == UiChoice::Automatic && displayPresent());
  if (options.ui == UiChoice::Gui && !displayPresent() &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    report("--ui gui needs a display (DISPLAY or WAYLAND_DISPLAY); use --ui text on a terminal");
    return 2;
  }

  if (options.listBackups) {
    std::error_code ec;
    if (!std::filesystem::is_directory(options.machineDir, ec)) {
      report("the machine directory " + options.machineDir.string() + " does not exist");
      return 2;
    }
    return listBackups(options.machineDir);
  }

  // The machine is opened before anything is shown, so a machine that cannot
  // be used is reported without a window and without a change.
  auto opened = Machine::open(options.machineDir, "--machine DIR", options.drives);
  if (!opened) {
    report(opened.error());
    return 2;
  }
  std::unique_ptr<Machine> machine = std::move(opened).value();
  if (machine->isWindowsDrive())
    report("the machine " + options.machineDir.string() + " is " + machine->description());
  // A run stopped while it wrote its backup had removed nothing; the folder
  // it left under its temporary name goes, with one line. The registry lock
  // held now means that no other run is writing one.
  const backup::RemovedPartials partials = backup::removePartialBackups(machine->directory());
  if (!partials.names.empty()) {
    std::string names;
    for (const std::string& name : partials.names) names += (names.empty() ? "" : ", ") + name;
    report("removed the unfinished backup " + names +
           " of a run that was stopped before it removed anything");
  }
  for (const std::string& error : partials.errors) report(error);
  if (options.restore) {
    const int status = restoreBackup(*machine, *options.restore);
    if (auto closed = machine->close(); !closed) {
      report(closed.error());
      return 1;
    }
    return status;
  }

  // Text mode draws its windows on an interactive terminal, and writes lines
  // for pipes, scripts and terminals that cannot be drawn on.
  bool drawn = false;
  if (gui) {
    toolkit::installBackend(toolkit::makeQtBackend(argc, argv));
  } else if (std::unique_ptr<toolkit::Backend> curses =
                 options.ui == UiChoice::Lines ? nullptr : toolkit::makeCursesBackend()) {
    toolkit::installBackend(std::move(curses));
    drawn = true;
  } else {
    toolkit::installBackend(toolkit::makeTextBackend());
  }

  std::optional<RunJournal> journal;
  if (steps != nullptr)
    journal.emplace(machine->directory(), machine->store(), *steps,
                    [&machine](const RegistryTree& tree, backup::RegistryFingerprint kind) {
                      return machine->registryDigest(tree, kind);
                    });
  if (journal && machine->isWindowsDrive()) {
    journal->setRegistryFile({{machine->systemDatWindowsPath(), machine->systemDat()->path()},
                              [&machine] { return machine->systemDatDigest(); }});
  }
  if (journal) {
    toolkit::setDeliveryGuard([&](HWND window, UINT message, WPARAM wparam) {
      return journal->beforeMessage(window, message, wparam);
    });
  }

  bool write_failed = false;
  (void)takeFileWriteFailures();  // Only this run's failures are reported.
  toolkit::setMessageHook([&](UINT message, WPARAM wparam) {
    // Every message that changed the registry is followed by a write, so an
    // interrupted run loses at most the step that was running.
    const auto flushed = machine->flush();
    if (!flushed) {
      report(flushed.error());
      write_failed = true;
    }
    if (journal) journal->afterMessage(message, wparam, flushed.ok());
  });
  bool shutdown_requested = false;
  setShutdownHandler([&](UINT flags, DWORD) {
    shutdown_requested = true;
    // The journal learns of the request once the registry holds the last step.
    if (journal && machine->flush().ok()) journal->shutdownRequested();
    bool handled = false;
    auto handle = [&] {
      handled = handleShutdown(*machine, options.onShutdown, flags, write_failed);
    };
    // The command's own output goes to the normal screen too.
    if (toolkit::Backend* backend = toolkit::currentBackend())
      backend->runOnNormalTerminal(handle);
    else
      handle();
    return handled;
  });

  int result = 0;
  std::optional<RunJournal::Interrupted> interrupted;
  if (journal) {
    auto found = journal->findInterrupted();
    if (found)
      interrupted = std::move(found).value();
    else
      report(found.error());
  }
  if (interrupted) {
    // A run that was cut off is finished, or the machine is left as it is.
    if (MessageBoxA(nullptr, journal->offerText(*interrupted).c_str(), steps->caption.c_str(),
                    MB_YESNO | MB_ICONQUESTION) == IDYES) {
      journal->resume(*interrupted);
      steps->finishRun(interrupted->manifest.title, interrupted->manifest.keyName,
                       interrupted->nextStep);
    }
  } else {
    result = AfxWinMain();
  }

  setShutdownHandler(nullptr);
  toolkit::setMessageHook(nullptr);
  toolkit::setDeliveryGuard(nullptr);
  toolkit::installBackend(nullptr);
  // The drawn screen is gone: its outcome stays on the normal one.
  if (drawn) {
    const std::string line =
        outcomeLine(toolkit::shownSoFar(), outcomeOf(toolkit::shownSoFar(), shutdown_requested));
    if (!line.empty()) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (auto closed = machine->close(); !closed) {
    report(closed.error());
    write_failed = true;
  }
  // Written, but with something the user must set back by hand.
  for (const std::string& notice : machine->takeNotices()) report(notice);
  // The dialog says nothing of files it could not change; the host does.
  for (const FileWriteFailure& failure : takeFileWriteFailures()) {
    report("could not change " + failure.path + ": " + describeFileError(failure.error));
    write_failed = true;
  }
  if (write_failed || (journal && journal->failed())) return 1;
  return result;
}

}  // namespace host
