// Writing a file in pieces, the later ones on a second thread: every piece
// arrives in order, and a write that fails is reported with its error.
#include "platform/registry/piece_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

TEST(PieceWriter, PiecesArriveWholeAndInOrder) {
  test_support::TempDir dir;
  const auto path = dir / "out";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  std::string expected;
  {
    PieceWriter writer(fd, SaveFault::None);
    std::string piece;
    for (int i = 0; i < 40; ++i) {
      // Sizes from one byte to 300 KB; the caller fills the buffer it gets
      // back at once.
      piece.assign(static_cast<std::size_t>(1 + (i * 7919) % 300'000),
                   static_cast<char>('a' + i % 26));
      piece.front() = static_cast<char>('0' + i % 10);
      expected += piece;
      ASSERT_TRUE(writer.write(piece)) << "piece " << i;
    }
    ASSERT_TRUE(writer.finish());
  }
  ::close(fd);
  EXPECT_EQ(test_support::readFile(path), expected);
}

TEST(PieceWriter, AFailedWriteIsReportedWithItsError) {
  // /dev/full takes no bytes: every write fails with ENOSPC.
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full here";
  {
    // The first piece, written by the caller.
    PieceWriter writer(fd, SaveFault::None);
    std::string text = "text";
    errno = 0;
    EXPECT_FALSE(writer.write(text));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(errno, ENOSPC);
  }
  {
    // A later piece, written by the thread: the failure shows at the latest
    // when the writer finishes.
    PieceWriter writer(fd, SaveFault::None);
    std::string piece;
    EXPECT_TRUE(writer.write(piece));
    piece.assign(1000, 'x');
    (void)writer.write(piece);
    piece.assign(1000, 'y');
    (void)writer.write(piece);
    errno = 0;
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(errno, ENOSPC);
    piece = "more";
    EXPECT_FALSE(writer.write(piece));
  }
  ::close(fd);
}

}  // namespace
