// The backup and the progress record of an uninstall run on a machine
// directory, and the finishing of a run that was cut off.
//
// CRASH SAFETY
//
// A run may end at any moment: killed, a crash, a power cut, the user
// cancelling between two steps. The design rests on these invariants; each
// names the code that keeps it.
//
// 1. Nothing is removed before the backup is durable. The first tick of the
//    step timer is held back (beforeMessage) until the steps have been tried
//    on the registry with the file functions in a dry run (previewSteps),
//    and every file of the backup (the deleted files' copies, the removed
//    keys and values as REGEDIT4 text, the startup file) and then the
//    manifest, ending in "complete", are written through platform/durable:
//    flushed, renamed into place, their folder flushed. A backup that cannot
//    be written drops the tick and ends the dialog as cancelled.
// 2. Every step is framed by the manifest. "step N started" is appended and
//    flushed before the tick that runs step N is delivered; "step N done"
//    after it was handled and the registry saved. The last step is followed
//    by "startup-file-after DIGEST", "step N done" and "finished" once the
//    program asked for the shutdown. A line that cannot be written stops the
//    run: the tick is dropped and no further step runs.
// 3. The registry is saved after every message that changed it (the host's
//    message hook), by an atomic replace, so a cut-off run loses at most the
//    step that was running. A step whose save failed is not recorded as done.
// 4. A step's status is recovered from the registry, not from the manifest:
//    each step writes the registry once, and the manifest holds its digest
//    before the run and after each step. On the next start
//    (findInterrupted) the registry's digest names the last step that went
//    through; one it does not name means the machine changed since, and the
//    run is not finished (a restore is offered instead). The manifest's own
//    lines only say whether the run ended ("finished", the last step done,
//    "restored"), and a backup without "complete" stands for a run that
//    removed nothing.
// 5. On a Windows 95 drive the registry is SYSTEM.DAT, changed by deletion
//    only: the backup holds it whole, and the digest of the file on the disk
//    is appended after each step's save, before "step N done" (also when a
//    cut-off run is taken up, and before the last step's "done"), so that a
//    restore knows each file the run wrote (recordRegistryFile). A kill
//    between a save and its record leaves a file the next start finishes
//    from, as its content is a state the run recorded.
// 6. The last step changes files only: the startup file is replaced in one
//    atomic step and flushed, and every deleted file has its copy in the
//    backup. A run cut off in it finds the registry as the step before left
//    it, so the step simply runs again when the run is finished.
// 7. "On the disk" holds after a power cut on FAT too, where the kernel
//    writes a renamed file's new directory entry only with the file itself
//    and frees a replaced file's clusters at its last close: every rename
//    goes through platform/durable, which holds the replaced file open and
//    flushes folder and renamed file in the order that leaves the old state
//    or the new one (settleRename); a deleted file's folder is flushed at
//    once; a backup folder is never renamed, but is a backup once its
//    manifest is on the disk (an unfinished one is removed at the next
//    start); SYSTEM.DAT's DOS attributes are on the new file before it
//    takes the old one's place.
//
// THE STATES OF A RUN (state())
//
//   NoBackup ──first tick, backup written, "step 1 started"──▶ Running(1)
//   NoBackup ──first tick, backup or its record fails────────▶ Failed
//   NoBackup ──resume(run): finishing a cut-off run──────────▶ BetweenSteps(k)
//   BetweenSteps(k) ──tick, "step k+1 started"───────────────▶ Running(k+1)
//   Running(k) ──handled, saved, k < last, "step k done"─────▶ BetweenSteps(k)
//   Running(k) ──handled, the save failed────────────────────▶ BetweenSteps(k)
//   Running(last) ──handled, saved: the shutdown request─────▶ Ended
//   any but Ended ──a manifest line cannot be written────────▶ Failed
//
// Ended and Failed are final: no tick is held back in Ended (the dialog has
// stopped its timer), and none is delivered in Failed. A finishing run
// starts in BetweenSteps at the last step the registry holds, and shows the
// steps done before in its dialog once that is initialised.
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
  // start, in the way a manifest names: by default the tree's fingerprint; a
  // registry kept in another form gives that of the tree as its file would
  // hold it.
  using Digest = std::function<std::string(const RegistryTree&, backup::RegistryFingerprint)>;
  RunJournal(std::filesystem::path machine_dir, RegistryStore& store, UninstallSteps steps,
             Digest digest = {});

  // A registry kept in one binary file (SYSTEM.DAT of a Windows 95 drive),
  // which the backup copies whole and whose digest on the disk (`digest`)
  // is recorded after every step that went through, when a cut-off run is
  // taken up, and at the end: a restore puts the copy back only over a file
  // the run wrote.
  struct RegistryFile {
    backup::PlannedFile file;
    std::function<std::string()> digest;
  };
  void setRegistryFile(RegistryFile registry_file) { m_registryFile = std::move(registry_file); }

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

  enum class State { NoBackup, BetweenSteps, Running, Ended, Failed };
  // Inline, as only the tests ask: the program itself keeps no copy of it.
  State state() const {
    if (m_failed) return State::Failed;
    if (m_ended) return State::Ended;
    if (m_running != 0) return State::Running;
    return m_backup.empty() ? State::NoBackup : State::BetweenSteps;
  }
  // The last step started: the one running, or the one done last.
  int stepsStarted() const { return m_ticks; }

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
  // The fingerprint of a state of the registry, as this version records it.
  std::string fingerprint(const RegistryTree& tree) const;
  // Records the registry file's digest now; true when there is none.
  bool recordRegistryFile();

  std::filesystem::path m_machineDir;
  RegistryStore& m_store;
  UninstallSteps m_steps;
  Digest m_digest;
  std::optional<RegistryFile> m_registryFile;
  std::filesystem::path m_backup;
  int m_ticks = 0;                // the steps started
  int m_running = 0;              // the step whose tick is being handled; 0 between ticks
  bool m_resumed = false;         // finishing a cut-off run: shows the steps done once
  HWND m_initialising = nullptr;  // the dialog whose WM_INITDIALOG came last
  bool m_ended = false;
  bool m_failed = false;
};

}  // namespace host
