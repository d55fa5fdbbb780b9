// The backup and the progress record of an uninstall run on a machine
// directory. Before the first step, a dry run of all steps finds what they
// will remove and the backup is written; before and after each step the
// backup's manifest records it. On the next start an interrupted run is found
// from the newest backup, so that it can be finished.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/result/result.h"
#include "shell/backup/backup_writer.h"
#include "shell/backup/manifest.h"
#include "shell/host/uninstall_steps.h"

class RegistryStore;
class RegistryTree;

namespace host {

class RunJournal final {
 public:
  // How the registry's state is fingerprinted between a step and a later
  // start: by default its REGEDIT4 text; a registry kept in another form gives
  // the fingerprint of the tree as its file would hold it.
  using Digest = std::function<std::string(const RegistryTree&)>;
  RunJournal(std::filesystem::path machine_dir, RegistryStore& store, UninstallSteps steps,
             Digest digest = {});

  // Before a message is delivered: the first tick of the step timer writes
  // the backup, and every tick records its step as started. A tick whose
  // record cannot be written is dropped and the dialog cancelled, so that
  // nothing unrecorded is removed.
  bool beforeMessage(HWND window, UINT message, WPARAM wparam);
  // After a message was handled and the registry written (`saved` false
  // when that failed): records the step that ran as done.
  void afterMessage(UINT message, WPARAM wparam, bool saved);
  // The program asked for the shutdown, which follows its last step.
  void shutdownRequested();
  // Whether a record could not be written (then the run stopped).
  bool failed() const { return m_failed; }

  struct Interrupted {
    std::filesystem::path backup;
    backup::Manifest manifest;
    int nextStep = 1;
  };
  // The run of the newest backup, when it neither ended nor was restored and
  // the registry is in a state that run left; nothing when there is none. An
  // unreadable backup, or a run that cannot be finished because the registry
  // changed since, is an error.
  Result<std::optional<Interrupted>> findInterrupted() const;
  // The question put to the user about an interrupted run.
  std::string offerText(const Interrupted& run) const;
  // Goes on with the records of an interrupted run from its next step.
  void resume(const Interrupted& run);

 private:
  bool writeBackup();
  // Finds what each step removes by trying the steps on the registry and
  // undoing them; false when the registry could not be put back as it was.
  bool previewSteps(backup::PlannedRun& run);
  bool record(const std::string& line);

  std::filesystem::path m_machineDir;
  RegistryStore& m_store;
  UninstallSteps m_steps;
  Digest m_digest;
  std::filesystem::path m_backup;
  int m_ticks = 0;
  int m_running = 0;  // the step whose tick is being handled
  bool m_resumed = false;
  HWND m_initialising = nullptr;
  bool m_ended = false;
  bool m_failed = false;
};

}  // namespace host
