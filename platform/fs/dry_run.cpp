#include "platform/fs/dry_run.h"

#include <optional>
#include <utility>

namespace {

std::optional<std::vector<DryRunDeletion>> g_deletions;

}  // namespace

void beginFileDryRun() { g_deletions.emplace(); }

std::vector<DryRunDeletion> endFileDryRun() {
  std::vector<DryRunDeletion> deletions;
  if (g_deletions) deletions = std::move(*g_deletions);
  g_deletions.reset();
  return deletions;
}

bool fileDryRunActive() { return g_deletions.has_value(); }

void recordDryRunDeletion(const char* windows_path, const std::filesystem::path& host) {
  if (g_deletions) g_deletions->push_back(DryRunDeletion{windows_path, host});
}
