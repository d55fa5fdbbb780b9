// The one durable write: what a file holds afterwards, its mode and owner, and
// that every failure leaves the old file and no temporary behind.
#include "platform/durable/durable_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::TempDir;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The names in a folder, to see that no temporary is left.
std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DurableFile, WritesNewFilesWithTheModeAskedForWhateverTheUmask) {
  TempDir dir;
  const mode_t old_umask = ::umask(077);
  const auto written = durable::writeFile({dir / "a.txt", 0644, durable::Existing::Keep}, "one\n");
  ::umask(old_umask);
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(readFile(dir / "a.txt"), "one\n");
  EXPECT_EQ(modeOf(dir / "a.txt"), 0644u);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.txt"});
}

TEST(DurableFile, KeepLeavesAStandingFileAndReplaceTakesItsPlace) {
  TempDir dir;
  test_support::writeFile(dir / "a.txt", "old");
  const auto kept = durable::writeFile({dir / "a.txt", 0600, durable::Existing::Keep}, "new");
  ASSERT_FALSE(kept);
  EXPECT_NE(kept.error().find((dir / "a.txt").string()), std::string::npos) << kept.error();
  EXPECT_EQ(kept.errorCode(), EEXIST);
  EXPECT_EQ(readFile(dir / "a.txt"), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.txt"});

  const auto replaced =
      durable::writeFile({dir / "a.txt", 0640, durable::Existing::Replace}, "new");
  ASSERT_TRUE(replaced) << replaced.error();
  EXPECT_EQ(readFile(dir / "a.txt"), "new");
  EXPECT_EQ(modeOf(dir / "a.txt"), 0640u);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.txt"});
}

TEST(DurableFile, AFileWrittenInPiecesAppearsOnlyAtTheCommit) {
  TempDir dir;
  test_support::writeFile(dir / "reg", "old");
  {
    auto pending = durable::PendingFile::create({dir / "reg", 0600, durable::Existing::Replace},
                                                dir / "reg.tmp");
    ASSERT_TRUE(pending) << pending.error();
    ASSERT_TRUE(pending.value().write("piece 1, "));
    ASSERT_TRUE(pending.value().write("piece 2"));
    EXPECT_EQ(readFile(dir / "reg"), "old");
    EXPECT_EQ(readFile(dir / "reg.tmp"), "piece 1, piece 2");
    // Dropped without a commit: the temporary goes, the old file stays.
  }
  EXPECT_EQ(readFile(dir / "reg"), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"reg"});

  auto pending = durable::PendingFile::create({dir / "reg", 0600, durable::Existing::Replace},
                                              dir / "reg.tmp");
  ASSERT_TRUE(pending) << pending.error();
  ASSERT_TRUE(pending.value().write("new"));
  ASSERT_TRUE(pending.value().commit());
  EXPECT_TRUE(pending.value().inPlace());
  // The descriptor is the new file's; the caller may keep it.
  struct stat held {};
  struct stat named {};
  ASSERT_EQ(::fstat(pending.value().fd(), &held), 0);
  ASSERT_EQ(::stat((dir / "reg").c_str(), &named), 0);
  EXPECT_EQ(held.st_ino, named.st_ino);
  const int fd = pending.value().release();
  EXPECT_EQ(::close(fd), 0);
  EXPECT_EQ(readFile(dir / "reg"), "new");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"reg"});
}

TEST(DurableFile, AWriteThatRunsOutOfRoomFailsAndLeavesTheOldFile) {
  TempDir dir;
  test_support::writeFile(dir / "a.txt", "old");
  // A file size limit makes the write fail halfway, as a full disk would.
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto written = durable::writeFile({dir / "a.txt", 0600, durable::Existing::Replace},
                                          std::string(100000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.errorCode(), EFBIG);
  EXPECT_NE(written.error().find("a.txt: cannot write"), std::string::npos) << written.error();
  EXPECT_EQ(readFile(dir / "a.txt"), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.txt"});
}

TEST(DurableFile, AStaleTemporaryGoesAndALinkPlantedThereIsNotFollowed) {
  TempDir dir;
  test_support::writeFile(dir / "elsewhere", "untouched");
  fs::create_symlink(dir / "elsewhere", dir / ".a.txt.uinq76-tmp");
  ASSERT_TRUE(durable::writeFile({dir / "a.txt", 0600, durable::Existing::Keep}, "new"));
  EXPECT_EQ(readFile(dir / "elsewhere"), "untouched");
  EXPECT_EQ(readFile(dir / "a.txt"), "new");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.txt", "elsewhere"}));
}

TEST(DurableFile, AMissingFolderIsAFailureThatNamesIt) {
  TempDir dir;
  const auto written =
      durable::writeFile({dir / "none" / "a.txt", 0600, durable::Existing::Keep}, "x");
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().find("none"), std::string::npos) << written.error();
  const auto flushed = durable::flushFolder(dir / "none");
  ASSERT_FALSE(flushed);
  EXPECT_EQ(flushed.errorCode(), ENOENT);
  EXPECT_TRUE(durable::flushFolder(dir.path()));
}

TEST(DurableFile, AppendsWholeLinesToAnExistingFileOnly) {
  TempDir dir;
  test_support::writeFile(dir / "manifest.txt", "title\n");
  ASSERT_TRUE(durable::appendLine(dir / "manifest.txt", "step 1 started"));
  ASSERT_TRUE(durable::appendLine(dir / "manifest.txt", "step 1 done"));
  EXPECT_EQ(readFile(dir / "manifest.txt"), "title\nstep 1 started\nstep 1 done\n");
  const auto missing = durable::appendLine(dir / "gone.txt", "x");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().find("gone.txt"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "gone.txt"));
}

TEST(DurableFile, RenamesIntoPlaceReplacingOrNot) {
  TempDir dir;
  test_support::writeFile(dir / "a", "a");
  test_support::writeFile(dir / "b", "b");
  const auto kept = durable::renameInto(dir / "a", dir / "b", durable::Existing::Keep);
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.errorCode(), EEXIST);
  EXPECT_EQ(readFile(dir / "b"), "b");
  ASSERT_TRUE(durable::renameInto(dir / "a", dir / "b", durable::Existing::Replace));
  EXPECT_EQ(readFile(dir / "b"), "a");
  EXPECT_FALSE(fs::exists(dir / "a"));
  EXPECT_FALSE(durable::renameWithoutReplacing(dir / "b", dir / "b"));
  EXPECT_EQ(errno, EEXIST);
}

// Only root may give a file away: the replaced file's owner and group, and the
// folder's for a new file, are kept; the mode asked for is set after them.
TEST(DurableFile, KeepsOwnerAndGroupOfTheFileReplacedOrOfTheFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give files to another user";
  TempDir dir;
  test_support::writeFile(dir / "a.txt", "old");
  ASSERT_EQ(::chown((dir / "a.txt").c_str(), 1234, 2345), 0);
  ASSERT_TRUE(durable::writeFile({dir / "a.txt", 04755, durable::Existing::Replace}, "new"));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_gid, 2345u);
  EXPECT_EQ(st.st_mode & 07777, 04755u);

  fs::create_directory(dir / "given");
  ASSERT_EQ(::chown((dir / "given").c_str(), 3456, 4567), 0);
  ASSERT_TRUE(durable::writeFile({dir / "given" / "b.txt", 0600, durable::Existing::Keep}, "b"));
  ASSERT_EQ(::stat((dir / "given" / "b.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 3456u);
  EXPECT_EQ(st.st_gid, 4567u);

  // A file written by other means takes over the old one's owner and mode.
  test_support::writeFile(dir / "c.new", "c");
  const int fd = ::open((dir / "c.new").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct stat like {};
  ASSERT_EQ(::stat((dir / "a.txt").c_str(), &like), 0);
  EXPECT_TRUE(durable::takeOverOwnership(fd, dir / "c.new", like, 0640));
  ::close(fd);
  ASSERT_EQ(::stat((dir / "c.new").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
