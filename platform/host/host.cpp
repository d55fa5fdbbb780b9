#include "platform/host/host.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <variant>

#include "platform/host/backup_commands.h"
#include "platform/host/host_options.h"
#include "platform/host/machine.h"
#include "platform/host/run_journal.h"
#include "platform/system/shutdown.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/qt/qt_backend.h"
#include "platform/toolkit/text/text_backend.h"

namespace host {
namespace {

void report(const std::string& message) {
  std::fprintf(stderr, "uinq76: %s\n", message.c_str());
  std::fflush(stderr);
}

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
bool handleShutdown(Machine& machine, const std::optional<std::string>& command, UINT flags) {
  if (auto error = machine.flush()) report(*error);
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
  const auto parsed = parseHostOptions(std::span<const char* const>(
      const_cast<const char* const*>(argv) + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0)));
  if (!parsed.options) {
    report(parsed.error + "\nTry 'uinq76 --help'.");
    return 2;
  }
  const HostOptions& options = *parsed.options;
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
  auto opened = Machine::open(options.machineDir, "--machine DIR");
  if (auto* error = std::get_if<std::string>(&opened)) {
    report(*error);
    return 2;
  }
  std::unique_ptr<Machine> machine = std::move(std::get<std::unique_ptr<Machine>>(opened));
  if (options.restore) {
    const int status = restoreBackup(*machine, *options.restore);
    if (auto error = machine->close()) {
      report(*error);
      return 1;
    }
    return status;
  }

  if (gui) {
    toolkit::installBackend(toolkit::makeQtBackend(argc, argv));
  } else {
    toolkit::installBackend(toolkit::makeTextBackend());
  }

  std::optional<RunJournal> journal;
  if (steps != nullptr) journal.emplace(machine->directory(), machine->store(), *steps);
  if (journal) {
    toolkit::setDeliveryGuard([&](HWND window, UINT message, WPARAM wparam) {
      return journal->beforeMessage(window, message, wparam);
    });
  }

  bool write_failed = false;
  toolkit::setMessageHook([&](UINT message, WPARAM wparam) {
    // Every message that changed the registry is followed by a write, so an
    // interrupted run loses at most the step that was running.
    auto error = machine->flush();
    if (error) {
      report(*error);
      write_failed = true;
    }
    if (journal) journal->afterMessage(message, wparam, !error);
  });
  SetShutdownHandler([&](UINT flags, DWORD) {
    if (journal && !machine->flush()) journal->shutdownRequested();
    return handleShutdown(*machine, options.onShutdown, flags);
  });

  int result = 0;
  std::string problem;
  const auto interrupted = journal ? journal->findInterrupted(problem) : std::nullopt;
  if (!problem.empty()) report(problem);
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

  SetShutdownHandler(nullptr);
  toolkit::setMessageHook(nullptr);
  toolkit::setDeliveryGuard(nullptr);
  toolkit::installBackend(nullptr);
  if (auto error = machine->close()) {
    report(*error);
    write_failed = true;
  }
  if (write_failed || (journal && journal->failed())) return 1;
  return result;
}

}  // namespace host
