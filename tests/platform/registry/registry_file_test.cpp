#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "tests/platform/registry/registry_test_support.h"
#include "tests/support/save_faults.h"

namespace {

const std::string kCanonical = crlf({
    "REGEDIT4",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk]",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
    "\"Title\"=\"Kivra Q76\"",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]",
    "\"v\"=dword:00000001",
    "",
});

ino_t inodeOf(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_ino;
}

// How many of this process's descriptors lie on files in `dir`, and how many
// of those on files that are no longer there (a replaced registry).
struct DescriptorsIn {
  int open = 0;
  int removed = 0;
};
DescriptorsIn descriptorsIn(const std::filesystem::path& dir) {
  DescriptorsIn found;
  const std::string prefix = std::filesystem::canonical(dir).string() + "/";
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (error || !target.starts_with(prefix)) continue;
    ++found.open;
    if (target.ends_with(" (deleted)")) ++found.removed;
  }
  return found;
}

std::unique_ptr<RegistryStore> openStore(const std::filesystem::path& path) {
  auto store = RegistryStore::open(path);
  EXPECT_TRUE(store.ok()) << store.error();
  return store ? std::move(store).value() : nullptr;
}

// Removes the product key through the Reg*A functions, as the program does.
void removeProductKey(RegistryStore& store) {
  ScopedActiveRegistry active(&store);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"), ERROR_SUCCESS);
}

}  // namespace

TEST(RegistryFile, OpenRefusesBadFilesAndLeavesThemAlone) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  // A missing file: the message names the path.
  auto missing = RegistryStore::open(path);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().find(path.string()), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path));
  // A malformed line: the message names the path and line; the file stays.
  const std::string bad = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=hex:0q\r\n";
  writeFile(path, bad);
  auto malformed = RegistryStore::open(path);
  ASSERT_FALSE(malformed.ok());
  EXPECT_EQ(malformed.error(), path.string() + ": line 4: bad hex byte \"0q\"");
  EXPECT_EQ(readFile(path), bad);
  // Not a regular file.
  auto directory = RegistryStore::open(dir.path());
  ASSERT_FALSE(directory.ok());
  EXPECT_NE(directory.error().find(dir.path().string()), std::string::npos);
  // A malformed file leaves no lock behind.
  writeFile(path, kCanonical);
  EXPECT_NE(openStore(path), nullptr);
}

TEST(RegistryFile, NothingIsWrittenWithoutChanges) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  // Also a file in another layout stays as it is when nothing changed.
  for (const std::string& text :
       {kCanonical, std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n")}) {
    writeFile(path, text);
    const ino_t before = inodeOf(path);
    auto store = openStore(path);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(store->flush().ok());
    EXPECT_TRUE(store->close().ok());
    EXPECT_EQ(inodeOf(path), before);
    EXPECT_EQ(readFile(path), text);
  }
}

TEST(RegistryFile, FlushReplacesTheFileWholeAndKeepsTheLock) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  writeFile(path, kCanonical);
  ::chmod(path.c_str(), 0640);
  auto store = openStore(path);
  ASSERT_NE(store, nullptr);
  // An open store refuses a second opener.
  auto second = RegistryStore::open(path);
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.error(), path.string() + " is in use by another program");

  removeProductKey(*store);
  EXPECT_TRUE(store->dirty());
  EXPECT_TRUE(store->flush().ok());
  EXPECT_FALSE(store->dirty());
  const std::string expected = store->toText();
  EXPECT_EQ(readFile(path), expected);
  EXPECT_EQ(expected.find("KivraQ76"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / ".registry.reg.uinq76-tmp"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // The new file is locked too: the lock moved with the replace.
  EXPECT_FALSE(RegistryStore::open(path).ok());
  // Closing releases it; the saved file loads again unchanged.
  EXPECT_TRUE(store->close().ok());
  auto reopened = openStore(path);
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->toText(), expected);
}

TEST(RegistryFile, LockHeldElsewhereRefusesTheOpen) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  writeFile(path, kCanonical);
  // Another open file description (as another program would have) holds the lock.
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  auto refused = RegistryStore::open(path);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.error().find("is in use by another program"), std::string::npos);
  EXPECT_EQ(readFile(path), kCanonical);
  ::close(fd);
  EXPECT_NE(openStore(path), nullptr);
}

TEST(RegistryFile, InterruptedSaveLeavesTheOldFile) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  const auto temp = dir.path() / ".registry.reg.uinq76-tmp";
  writeFile(path, kCanonical);
  auto store = openStore(path);
  ASSERT_NE(store, nullptr);
  removeProductKey(*store);
  // A write that runs out of space, and a rename that fails: the old file
  // stays, no temporary file is left, the change is still pending, and the
  // failure keeps its errno.
  for (const auto& [fault, code] : {std::pair{save_faults::Fault::FailWrite, ENOSPC},
                                    std::pair{save_faults::Fault::FailRename, EIO}}) {
    const save_faults::Planted planted(fault, "uinq76-tmp");
    const auto flushed = store->flush();
    ASSERT_FALSE(flushed.ok());
    EXPECT_NE(flushed.error().find(path.string()), std::string::npos) << flushed.error();
    EXPECT_EQ(flushed.errorCode(), code) << flushed.error();
    EXPECT_EQ(readFile(path), kCanonical);
    EXPECT_FALSE(std::filesystem::exists(temp));
    EXPECT_TRUE(store->dirty());
  }
  EXPECT_TRUE(store->flush().ok());
  EXPECT_EQ(readFile(path).find("KivraQ76"), std::string::npos);
}

TEST(RegistryFile, CrashBeforeRenameLeavesTheOldFile) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  const auto temp = dir.path() / ".registry.reg.uinq76-tmp";
  writeFile(path, kCanonical);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto store = RegistryStore::open(path);
    if (!store) ::_exit(1);
    SetActiveRegistry(store.value().get());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76");
    const save_faults::Planted planted(save_faults::Fault::ExitBeforeRename, "uinq76-tmp");
    (void)store.value()->flush();
    ::_exit(2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 70);
  // The old file is whole; the complete temporary file is only a leftover.
  EXPECT_EQ(readFile(path), kCanonical);
  EXPECT_TRUE(std::filesystem::exists(temp));
  // The crashed process's lock died with it; the next save replaces the leftover.
  auto store = openStore(path);
  ASSERT_NE(store, nullptr);
  removeProductKey(*store);
  EXPECT_TRUE(store->close().ok());
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(readFile(path).find("KivraQ76"), std::string::npos);
}

// A registry of some megabytes: read in many blocks and saved in many pieces.
// What comes back is the same registry with only the removal made.
TEST(RegistryFile, ALargeRegistryComesBackWithOnlyTheRemoval) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  std::string text = kCanonical;
  for (int i = 0; i < 40'000; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\\Part" + std::to_string(i % 16) + "\\Key" +
            std::to_string(i) + "]\r\n\"Driver\"=\"snd" + std::to_string(i) +
            ".drv\"\r\n\"Flags\"=dword:0000000" + std::to_string(i % 8) + "\r\n\r\n";
  }
  ASSERT_GT(text.size(), 3'000'000u);
  writeFile(path, text);
  auto expected = RegistryStore::fromText(text);
  ASSERT_TRUE(expected) << expected.error();
  removeProductKey(*expected.value());
  {
    auto store = openStore(path);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->toText(), RegistryStore::fromText(text).value()->toText());
    removeProductKey(*store);
    auto saved = store->flush();
    ASSERT_TRUE(saved) << saved.error();
  }
  EXPECT_EQ(readFile(path), expected.value()->toText());
  auto again = openStore(path);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->toText(), expected.value()->toText());
}

// A line in error far into a large registry, many blocks into the file, is
// reported at its line in the whole file.
TEST(RegistryFile, AnErrorFarIntoALargeRegistryNamesItsLine) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  std::string text = kCanonical;
  for (int i = 0; i < 60'000; ++i) {
    if (i == 50'000) text += "\"Stray\"=\"value\"\r\nnot a registry line\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\\Key" + std::to_string(i) + "]\r\n\r\n";
  }
  ASSERT_GT(text.size(), 2'000'000u);
  writeFile(path, text);
  const std::size_t bad = text.find("not a registry line");
  const auto line =
      std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n') + 1;
  auto store = RegistryStore::open(path);
  ASSERT_FALSE(store);
  EXPECT_EQ(store.error(), path.string() + ": line " + std::to_string(line) +
                               ": not a [key], value or blank line");
}

// A save closes the file it replaced: only the new file stays open, and
// locked, and close() lets it go too.
TEST(RegistryFile, ReplacedFilesAreClosedBySaveAndTheNewOneByClose) {
  TempDir dir;
  const auto path = dir.path() / "registry.reg";
  std::string text = kCanonical;
  for (int i = 0; i < 20'000; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\\Key" + std::to_string(i) + "]\r\n\"Data\"=\"" +
            std::string(40, 'x') + "\"\r\n\r\n";
  }
  ASSERT_GT(text.size(), 1'500'000u);
  writeFile(path, text);
  auto store = openStore(path);
  ASSERT_NE(store, nullptr);
  for (int round = 0; round < 3; ++round) {
    store->markDirty();
    auto saved = store->flush();
    ASSERT_TRUE(saved) << saved.error();
    const DescriptorsIn held = descriptorsIn(dir.path());
    EXPECT_EQ(held.open, 1) << "the new file, and no other, is open";
    EXPECT_EQ(held.removed, 0) << "a replaced file is still open";
    // The new file is locked: another program cannot open the registry.
    EXPECT_FALSE(RegistryStore::open(path)) << "round " << round;
  }
  ASSERT_TRUE(store->close());
  EXPECT_EQ(descriptorsIn(dir.path()).open, 0) << "a file is still open after close()";
  EXPECT_EQ(readFile(path), RegistryStore::fromText(text).value()->toText());
}
