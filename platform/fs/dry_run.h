// A dry run of the file functions: while one is on, nothing on the drives
// changes. DeleteFileA checks the file as usual, records it and reports it
// deleted; creating, moving and replacing files fail with
// ERROR_WRITE_PROTECT, as on a write-protected disk. The host uses it to learn
// which files a run would delete before it deletes any.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct DryRunDeletion {
  std::string windowsPath;     // as the program named it
  std::filesystem::path host;  // the file on the host
};

void beginFileDryRun();
// Ends the dry run and returns the deletions it recorded, in order.
std::vector<DryRunDeletion> endFileDryRun();
bool fileDryRunActive();
// Records a deletion of the dry run; called by DeleteFileA.
void recordDryRunDeletion(const char* windows_path, const std::filesystem::path& host);
