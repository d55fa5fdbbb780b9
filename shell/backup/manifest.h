// The manifest of a backup (manifest.txt): what the run was to remove, and,
// appended line by line as it goes, how far it got. One record per line, the
// words separated by single blanks; texts are written with every byte outside
// the printable ASCII range, blanks and "%" as %XX, and an empty text as "%-".
//
//   uinq76-backup 1
//   created 2026-12-07 18:00:00 UTC
//   title Kivra%20Q76%20Audio
//   key-name KivraQ76
//   steps 3
//   registry-fingerprint tree
//   registry-before <fingerprint of the registry before the run>
//   registry-after <step> <fingerprint>
//   key <step> <position> <path>
//   value <step> <position> <key path> <value name>
//   file <step> <Windows path> <copy in the backup> <sha256> <mode, octal>
//   startup-file <Windows path> <copy> <sha256> <mode>   ("- - -" when absent)
//   registry-file <Windows path> <copy> <sha256> <mode>  (Windows 95 drive only)
//   complete
//   step <step> started | step <step> done
//   startup-file-after <sha256>                          ("-" when absent)
//   registry-file-after <sha256>                         (Windows 95 drive only)
//   finished | restored
//
// On a Windows 95 drive the registry is one binary file, SYSTEM.DAT, that the
// run changes by deletion only; the backup holds a byte copy of it as it was
// before the run ("registry-file"), and the run appends the digest of the
// file it wrote after each step and at its end ("registry-file-after"), so
// that a restore can tell the run's file from one changed since.
//
// The registry's fingerprints are of its keys and values ("registry-fingerprint
// tree"); a manifest without that line was written by an earlier version,
// which fingerprinted the registry's REGEDIT4 text.
//
// "complete" ends what the backup wrote before the run began; a manifest
// without it belongs to a backup that was cut off, and the run removed
// nothing. A last line without its line break was cut off too and is ignored.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/result/result.h"
#include "shell/backup/registry_changes.h"
#include "shell/backup/sha256.h"

namespace backup {

struct SavedFile {
  std::string windowsPath;
  std::string copy;  // file name in the backup folder; empty when it was absent
  std::string sha256;
  unsigned mode = 0;
  bool present() const { return !copy.empty(); }
};

struct Manifest {
  std::string created;
  std::string title;
  std::string keyName;
  int steps = 0;
  RegistryFingerprint fingerprint = RegistryFingerprint::Text;
  std::string registryBefore;
  std::map<int, std::string> registryAfter;
  std::map<int, RegistryRemovals> registry;
  std::map<int, std::vector<SavedFile>> files;
  SavedFile startupFile;
  SavedFile registryFile;  // present on a Windows 95 drive only

  bool complete = false;
  std::set<int> started;
  std::set<int> done;
  std::optional<std::string> startupFileAfter;  // "" when the file was absent
  std::set<std::string> registryFileAfter;      // each state of the file the run wrote
  bool finished = false;
  bool restored = false;

  // The step a run left off at: the first one not done.
  int firstStepNotDone() const;
};

std::string encodeText(std::string_view text);
// A text from the machine for a terminal: control bytes as \xNN.
std::string displayText(std::string_view text);

// The records up to and with "complete".
std::string formatManifest(const Manifest& manifest);

// Reads a manifest; a line it does not understand is an error naming the file
// and the line.
Result<Manifest> parseManifest(std::string_view text, const std::string& source);

}  // namespace backup
