#include "shell/host/run_journal.h"

#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "platform/durable/durable_file.h"
#include "platform/fs/drives.h"
#include "platform/fs/dry_run.h"
#include "platform/registry/registry_store.h"
#include "platform/toolkit/afxwin.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/backup_writer.h"
#include "shell/backup/registry_changes.h"
#include "shell/backup/sha256.h"
#include "shell/backup/whole_file.h"
#include "shell/host/reporter.h"

namespace host {

namespace fs = std::filesystem;

namespace {

// The startup file as it is now, when it is a file that can be copied.
backup::PlannedFile startupFileOf(const std::string& windows_path) {
  backup::PlannedFile file{windows_path, {}};
  const ResolvedPath resolved = resolveWindowsPath(windows_path, LastComponent::DoNotFollow);
  struct stat st {};
  if (resolved.ok() && resolved.exists && ::lstat(resolved.host.c_str(), &st) == 0 &&
      S_ISREG(st.st_mode))
    file.host = resolved.host;
  return file;
}

std::string startupDigest(const std::string& windows_path) {
  const backup::PlannedFile file = startupFileOf(windows_path);
  if (file.host.empty()) return "-";
  const auto bytes = backup::readWholeFile(file.host);
  if (!bytes) return "-";
  return backup::sha256Hex(bytes.value());
}

}  // namespace

RunJournal::RunJournal(fs::path machine_dir, RegistryStore& store, UninstallSteps steps,
                       Digest digest)
    : m_machineDir(std::move(machine_dir)),
      m_store(store),
      m_steps(std::move(steps)),
      m_digest(digest
                   ? std::move(digest)
                   : Digest([&store](const RegistryTree& tree, backup::RegistryFingerprint kind) {
                       return kind == backup::RegistryFingerprint::Tree
                                  ? backup::registryDigest(tree)
                                  : backup::registryTextDigest(tree, store.layout());
                     })) {}

std::string RunJournal::fingerprint(const RegistryTree& tree) const {
  return m_digest(tree, backup::RegistryFingerprint::Tree);
}

bool RunJournal::previewSteps(backup::PlannedRun& run) {
  // The steps run for real on the registry itself, with the file functions in
  // a dry run, while the registry records what they remove: that is what the
  // run will remove. Each step's removals are undone to see the registry as
  // the step found it, and made again for the next step; at the end all are
  // undone, and the registry must be as it was, byte for byte.
  RegistryTree& tree = m_store.tree();
  std::vector<TreeRemoval> log;
  RegistryStore* live = ActiveRegistry();
  SetActiveRegistry(&m_store);
  m_store.beginPreview(log);
  const auto undoAll = [&] {
    for (std::size_t i = log.size(); i-- > 0;) tree.undoRemoval(log[i]);
  };
  // Should a step throw, the registry cannot be trusted to be whole: it is
  // put back as far as it can be and never saved.
  struct Unfinished {
    RegistryStore* store;
    std::function<void()> undo;
    ~Unfinished() {
      if (store == nullptr) return;
      undo();
      store->endPreview(false);
    }
  } unfinished{&m_store, undoAll};
  std::string digest = run.registryBefore;
  for (int step = 1; step <= run.steps; ++step) {
    const std::size_t first = log.size();
    beginFileDryRun();
    m_steps.runStepWithoutWindow(step);
    for (auto& deletion : endFileDryRun())
      run.deletions[step].push_back({deletion.windowsPath, deletion.host});
    if (log.size() == first) {
      run.registryAfter[step] = digest;
      continue;
    }
    for (std::size_t i = log.size(); i-- > first;) tree.undoRemoval(log[i]);
    auto removals = removalsFromLog(tree, std::span(log).subspan(first));
    if (!removals.empty()) run.removedTrees.emplace(step, removalsAsTree(tree, removals));
    run.removals[step] = std::move(removals);
    for (std::size_t i = first; i < log.size(); ++i) tree.redoRemoval(log[i]);
    digest = fingerprint(tree);
    run.registryAfter[step] = digest;
  }
  unfinished.store = nullptr;
  undoAll();
  const bool restored = fingerprint(tree) == run.registryBefore;
  m_store.endPreview(restored);
  SetActiveRegistry(live);
  return restored;
}

bool RunJournal::writeBackup() {
  backup::PlannedRun run;
  run.title = m_steps.productTitle();
  run.keyName = m_steps.productKeyName();
  run.steps = m_steps.count();
  run.startupFile = startupFileOf(m_steps.startupFile);
  if (m_registryFile) run.registryFile = m_registryFile->file;

  run.registryBefore = fingerprint(m_store.tree());
  if (!previewSteps(run)) {
    report(
        "cannot prepare the backup: the registry could not be put back as it was after the "
        "steps were tried on it; nothing was removed, and the registry file is left as it is");
    return false;
  }

  auto written = backup::writeBackup(m_machineDir, run, std::time(nullptr));
  if (!written) {
    report("the backup could not be written, so nothing was removed: " + written.error());
    return false;
  }
  m_backup = written.value();
  report("backup written to " + m_backup.string());
  return true;
}

bool RunJournal::record(const std::string& line) {
  if (m_backup.empty()) return false;
  if (auto appended = durable::appendLine(backup::manifestPath(m_backup), line); !appended) {
    report("the run's progress could not be recorded, so it stops here: " + appended.error());
    return false;
  }
  return true;
}

bool RunJournal::recordRegistryFile() {
  return !m_registryFile || record("registry-file-after " + m_registryFile->digest());
}

bool RunJournal::beforeMessage(HWND window, UINT message, WPARAM wparam) {
  if (message == WM_INITDIALOG) m_initialising = window;
  if (message != WM_TIMER || wparam != m_steps.stepTimer) return true;
  const auto stop = [&] {
    // The tick is dropped and the dialog ends as if cancelled: nothing more
    // is removed.
    m_failed = true;
    if (CWnd* dialog = CWnd::FromHandle(window)) dialog->PostMessage(WM_COMMAND, IDCANCEL, 0);
    return false;
  };
  if (m_failed) return false;
  const int step = m_ticks + 1;
  if (step > m_steps.count()) return true;
  if (m_backup.empty() && !writeBackup()) return stop();
  if (!record("step " + std::to_string(step) + " started")) return stop();
  m_ticks = step;
  m_running = step;
  return true;
}

void RunJournal::afterMessage(UINT message, WPARAM wparam, bool saved) {
  if (message == WM_INITDIALOG && m_resumed && m_steps.showStepsDone) {
    m_steps.showStepsDone(m_initialising, m_ticks);
    m_resumed = false;
  }
  if (message != WM_TIMER || wparam != m_steps.stepTimer || m_running == 0) return;
  const int step = m_running;
  m_running = 0;
  // A step whose changes are not on the disk is not done.
  if (!saved || m_failed) return;
  if (step == m_steps.count()) {
    shutdownRequested();
  } else {
    m_failed = !(recordRegistryFile() && record("step " + std::to_string(step) + " done"));
  }
}

void RunJournal::shutdownRequested() {
  if (m_backup.empty() || m_ended || m_failed || m_ticks != m_steps.count()) return;
  m_ended = true;
  // The startup file's new state first: once the step is recorded as done,
  // a restore must be able to recognise the file the run left.
  if (record("startup-file-after " + startupDigest(m_steps.startupFile)) && recordRegistryFile() &&
      record("step " + std::to_string(m_ticks) + " done"))
    record("finished");
}

Result<std::optional<RunJournal::Interrupted>> RunJournal::findInterrupted() const {
  const auto folders = backup::listBackupFolders(m_machineDir);
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    auto manifest = backup::readManifest(*it);
    // A backup that was cut off while being written stands for a run that
    // removed nothing; the one before it tells how the last real run ended.
    if (manifest && !manifest.value().complete) continue;
    if (!manifest)
      return Error{"the newest backup cannot be read: " + manifest.error(), manifest.errorCode()};
    const backup::Manifest& m = manifest.value();
    // A run whose last step is done has nothing left, even when the line
    // after it was never written.
    if (m.finished || m.restored || m.done.count(m.steps) || m.steps != m_steps.count())
      return std::optional<Interrupted>();
    // A title the program could not hold whole would, cut short, name another
    // program's registration.
    const auto fits = [](const std::string& text, std::size_t capacity) {
      return text.size() < capacity && text.find('\0') == std::string::npos;
    };
    if (!fits(m.title, m_steps.titleCapacity) || !fits(m.keyName, m_steps.keyNameCapacity)) {
      return Error{it->string() +
                   ": the recorded title or key name is too long; the run cannot be finished"};
    }
    // Which steps went through is read from the registry itself: each step
    // wrote it once, so it is in the state before one of them. A run of an
    // earlier version recorded the states by their text.
    const std::string digest = m_digest(m_store.tree(), m.fingerprint);
    int next = 0;
    for (int step = m.steps; step >= 1 && next == 0; --step) {
      const auto after = m.registryAfter.find(step);
      if (after != m.registryAfter.end() && after->second == digest && step < m.steps)
        next = step + 1;
    }
    if (next == 0 && digest == m.registryBefore) next = 1;
    if (next == 0) {
      return Error{"the uninstall recorded in " + it->string() +
                   " was cut off, but the registry has changed since, so it cannot be finished; "
                   "uinq76 --restore " +
                   it->filename().string() + " puts back what it removed"};
    }
    return std::optional<Interrupted>(Interrupted{*it, m, next});
  }
  return std::optional<Interrupted>();
}

std::string RunJournal::offerText(const Interrupted& run) const {
  std::string left;
  for (int step = run.nextStep; step <= m_steps.count(); ++step) {
    if (!left.empty()) left += ", ";
    left += m_steps.stepNames[static_cast<std::size_t>(step - 1)];
  }
  return "The uninstallation of '" + run.manifest.title +
         "' was interrupted before it was complete. Not done yet: " + left +
         ".\n\nDo you want to finish it now? No leaves the computer as it is; uinq76 --restore " +
         run.backup.filename().string() + " puts back what was removed.";
}

void RunJournal::resume(const Interrupted& run) {
  m_backup = run.backup;
  m_ticks = run.nextStep - 1;
  m_resumed = true;
  // The file as a cut-off run left it, its record perhaps not written: its
  // content is a state the run recorded (findInterrupted), so it is the run's.
  m_failed = !recordRegistryFile();
}

}  // namespace host
