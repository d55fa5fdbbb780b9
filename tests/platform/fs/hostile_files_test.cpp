// The file functions on drives that hold traps: links that lead out of the
// drive or into a sibling drive folder, a drive folder that is itself a link,
// named pipes where files belong, files owned by someone else, and writes
// that fail. Failed changes are kept for the host's report.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/fs/file_ops.h"
#include "platform/fs/file_replace.h"
#include "platform/fs/text_file.h"
#include "platform/fs/windows_directory.h"
#include "platform/fs/write_failures.h"
#include "tests/platform/fs/machine_fixture.h"

namespace fs = std::filesystem;

namespace {

// A call that would wait for ever on a named pipe ends the test process after
// 10 s instead of holding it until the suite's timeout.
class Deadline {
 public:
  Deadline() { ::alarm(10); }
  ~Deadline() { ::alarm(0); }
};

class HostileFiles : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    (void)takeFileWriteFailures();
  }
};

}  // namespace

TEST_F(HostileFiles, NothingIsChangedThroughALinkOutOfTheDrive) {
  // C:\OUT leads to a folder beside the drive; C:\SIB into the sibling
  // drive folder drive_c2, whose name merely begins like drive_c's.
  writeBytes(m_machine / "outside/f.txt", "outside");
  writeBytes(m_machine / "drive_c2/g.txt", "sibling");
  fs::create_directory_symlink(m_machine / "outside", c("OUT"));
  fs::create_directory_symlink("../drive_c2", c("SIB"));
  writeBytes(c("a.txt"), "a");

  for (const char* folder : {"C:\\OUT\\", "C:\\SIB\\"}) {
    const std::string name = std::string(folder) + (folder[4] == 'O' ? "f.txt" : "g.txt");
    EXPECT_EQ(resolveWindowsPath(name, LastComponent::Follow).error,
              static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << name;
    EXPECT_FALSE(DeleteFileA(name.c_str())) << name;
    EXPECT_FALSE(MoveFileA(name.c_str(), "C:\\moved.txt")) << name;
    EXPECT_FALSE(MoveFileA("C:\\a.txt", (std::string(folder) + "new.txt").c_str())) << name;
    EXPECT_FALSE(replaceFileWithCopy("C:\\a.txt", name.c_str())) << name;
  }
  EXPECT_EQ(readBytes(m_machine / "outside/f.txt"), "outside");
  EXPECT_EQ(readBytes(m_machine / "drive_c2/g.txt"), "sibling");
  EXPECT_FALSE(fs::exists(m_machine / "outside/new.txt"));
  EXPECT_FALSE(fs::exists(m_machine / "drive_c2/new.txt"));
  EXPECT_FALSE(fs::exists(c("moved.txt")));
  EXPECT_EQ(readBytes(c("a.txt")), "a");
  // Each refusal is kept for the host's report.
  EXPECT_EQ(takeFileWriteFailures().size(), 8u);
}

TEST_F(HostileFiles, ADriveFolderThatIsALinkIsConfinedToWhereItLeads) {
  // drive_d leads to mnt/d, as a mounted partition would; the machine
  // directory around it is outside the drive.
  writeBytes(m_machine / "mnt/d/WIN95/f.txt", "d");
  writeBytes(m_machine / "mnt/secret.txt", "s");
  fs::create_directory_symlink(m_machine / "mnt/d", m_machine / "drive_d");
  fs::create_directory_symlink(m_machine / "mnt", m_machine / "mnt/d/UP");
  fs::create_symlink(m_machine / "drive_d/WIN95/f.txt", m_machine / "mnt/d/ALIAS.TXT");
  EXPECT_TRUE(resolveWindowsPath("D:\\WIN95\\F.TXT", LastComponent::Follow).exists);
  // A link through the drive's own link name still lands inside it.
  EXPECT_TRUE(resolveWindowsPath("D:\\ALIAS.TXT", LastComponent::Follow).exists);
  EXPECT_EQ(resolveWindowsPath("D:\\UP\\secret.txt", LastComponent::Follow).error,
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("D:\\UP\\secret.txt"));
  EXPECT_EQ(readBytes(m_machine / "mnt/secret.txt"), "s");
}

TEST_F(HostileFiles, NamedPipesCannotBeOpened) {
  ASSERT_EQ(::mkfifo(c("PIPE.TXT").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(c("MSDOS.SYS").c_str(), 0644), 0);
  const Deadline deadline;
  EXPECT_EQ(TextFileReader::open("C:\\PIPE.TXT"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  std::string bytes = "untouched";
  EXPECT_EQ(readFileBytes("C:\\PIPE.TXT", bytes), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(bytes, "untouched");
  // MSDOS.SYS as a pipe: the default Windows directory.
  char buf[64];
  EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 10u);
  EXPECT_STREQ(buf, "C:\\WINDOWS");
}

TEST_F(HostileFiles, AReplacedFileKeepsItsModeAndOwner) {
  writeBytes(c("new.tmp"), "new");
  writeBytes(c("old.txt"), "old");
  ASSERT_EQ(::chmod(c("old.txt").c_str(), 0604), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(c("old.txt").c_str(), 4321, 4322), 0);
  }
  ASSERT_TRUE(replaceFileWithCopy("C:\\NEW.TMP", "C:\\OLD.TXT"));
  struct stat st {};
  ASSERT_EQ(::stat(c("old.txt").c_str(), &st), 0);
  EXPECT_EQ(readBytes(c("old.txt")), "new");
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
}

TEST_F(HostileFiles, FailedChangesAreKeptForTheReport) {
  writeBytes(c("ro.txt"), "r");
  makeReadOnly(c("ro.txt"));
  // Missing files and folders are answers, not failures.
  EXPECT_FALSE(DeleteFileA("C:\\NONE.TXT"));
  EXPECT_FALSE(DeleteFileA("C:\\NODIR\\NONE.TXT"));
  EXPECT_TRUE(takeFileWriteFailures().empty());
  // A refusal is kept with the path as the program named it.
  EXPECT_FALSE(DeleteFileA("C:\\Ro.Txt"));
  EXPECT_EQ(TextFileWriter::createNew("C:\\RO.TXT"), nullptr);
  const auto failures = takeFileWriteFailures();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].path, "C:\\Ro.Txt");
  EXPECT_EQ(failures[0].error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(describeFileError(failures[1].error), "access refused");
  EXPECT_TRUE(takeFileWriteFailures().empty());

  // No space: a file-size limit makes the writes fail as a full drive does.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto writer = TextFileWriter::createNew("C:\\BIG.@@@");
  ASSERT_NE(writer, nullptr);
  const std::string text(8192, 'x');
  const BOOL wrote = writer->write(text.data(), text.size());
  const BOOL committed = writer->commit();
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_FALSE(wrote && committed);
  const auto full = takeFileWriteFailures();
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].path, "C:\\BIG.@@@");
  EXPECT_EQ(describeFileError(full[0].error), "no space left on the drive");
}
