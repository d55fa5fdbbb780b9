// Reading a large REGEDIT4 text in parts on two threads: the parts start at
// [key] lines behind a blank line, found near even steps through the text,
// and each part's tree joins the tree of the parts before it.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_part.h"

namespace {

// Where a text read from `read` may be split into parts that read apart as
// they read together: a [key] line behind a blank line, which no line before
// it goes on into, looked for in a block from `from` on. 0 when the block
// holds none.
std::size_t findSplit(const ReadAt& read, std::size_t from) {
  constexpr std::size_t kLook = 64 * 1024;
  const auto block = std::make_unique_for_overwrite<char[]>(kLook);
  std::size_t size = 0;
  while (size < kLook) {
    const Result<std::size_t> got = read(from + size, block.get() + size, kLook - size);
    if (!got || got.value() == 0) break;
    size += got.value();
  }
  const std::string_view seen(block.get(), size);
  for (std::size_t i = seen.find("\n["); i != std::string_view::npos; i = seen.find("\n[", i + 1)) {
    const bool blank_before =
        (i >= 1 && seen[i - 1] == '\n') || (i >= 2 && seen[i - 1] == '\r' && seen[i - 2] == '\n');
    if (blank_before) return from + i + 1;
  }
  return 0;
}

// Reads up to `room` bytes from `at` on, but none from `end` on, and moves
// `at` past those read: 0 at `end` or at the end of the text.
Result<std::size_t> readUpTo(const ReadAt& read, std::uint64_t& at, std::uint64_t end, char* into,
                             std::size_t room) {
  room = static_cast<std::size_t>(std::min<std::uint64_t>(room, end - at));
  if (room == 0) return std::size_t{0};
  Result<std::size_t> got = read(at, into, room);
  if (got) at += got.value();
  return got;
}

// A text read in parts on two threads: the calling thread reads from the
// front, parsing on through each next part it claims, and a helper reads one
// part after another from the back, each into a tree of its own, until the
// two meet. The quicker thread thus reads more, which keeps a busy processor
// from holding up the read. The trees are then joined in order.
class PartsReader {
 public:
  // `starts` are where the parts start: 0 first, rising, each a [key] line
  // behind a blank line, where no line before goes on.
  PartsReader(const ReadAt& read, std::vector<std::size_t> starts, std::size_t expected_size,
              std::string_view source, std::optional<std::size_t> back_parts)
      : m_read(read),
        m_starts(std::move(starts)),
        m_expected(expected_size),
        m_source(source),
        m_backParts(back_parts),
        m_claimed(m_starts.size()),
        m_back(m_starts.size()) {}

  Result<RegistryTree> run() {
    m_claimed[0] = true;
    if (m_backParts) {
      *m_backParts = std::min(*m_backParts, m_starts.size() - 1);
      for (std::size_t part = m_starts.size() - *m_backParts; part < m_starts.size(); ++part)
        m_claimed[part] = true;
    }
    const ReadBlock front = [this](char* into, std::size_t room) -> Result<std::size_t> {
      while (m_frontAt == endOf(m_frontParts - 1)) {
        if (m_frontParts == m_starts.size() || m_claimed[m_frontParts].exchange(true))
          return std::size_t{0};
        ++m_frontParts;
      }
      return readUpTo(m_read, m_frontAt, endOf(m_frontParts - 1), into, room);
    };
    // The front's parser makes room for the whole text's tree, which the
    // others then join.
    regedit4::Part first(front, m_expected, m_source, regedit4::Part::Place::First);
    std::exception_ptr back_threw;
    std::thread helper;
    try {
      helper = std::thread([&] {
        try {
          readFromTheBack();
        } catch (...) {
          back_threw = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // Without a thread the front reads every part it can claim, and the
      // parts set aside for the back are read after it.
    }
    bool first_read = false;
    try {
      first_read = first.read();
    } catch (...) {
      if (helper.joinable()) helper.join();
      throw;
    }
    if (helper.joinable()) {
      helper.join();
      if (back_threw) std::rethrow_exception(back_threw);
    } else {
      readFromTheBack();
    }
    return join(first, first_read);
  }

 private:
  // A part read from the back, with the reading it owns.
  struct BackPart {
    std::uint64_t at = 0;
    ReadBlock read;
    std::unique_ptr<regedit4::Part> parser;
    bool read_ok = false;
  };

  // Where part `part` ends; the last goes to the end of the text, however
  // long it has grown.
  std::uint64_t endOf(std::size_t part) const {
    return part + 1 < m_starts.size() ? m_starts[part + 1] : UINT64_MAX;
  }

  void readFromTheBack() {
    for (std::size_t part = m_starts.size(); part-- > 1;) {
      if (m_backParts ? part < m_starts.size() - *m_backParts : m_claimed[part].exchange(true))
        return;
      BackPart& back = m_back[part];
      back.at = m_starts[part];
      const std::uint64_t end = endOf(part);
      back.read = [this, &back, end](char* into, std::size_t room) {
        return readUpTo(m_read, back.at, end, into, room);
      };
      const std::size_t size =
          std::min<std::uint64_t>(end, std::max(m_expected, m_starts[part])) - m_starts[part];
      back.parser =
          std::make_unique<regedit4::Part>(back.read, size, m_source, regedit4::Part::Place::Later);
      back.read_ok = back.parser->read();
    }
  }

  // The joined tree, or what is wrong with the text: of each kind of
  // error, the one that comes first in the text, a later part's lines
  // counted on from the lines of the parts before it.
  Result<RegistryTree> join(regedit4::Part& first, bool first_read) {
    std::size_t total = first.total();
    bool all_read = first_read;
    for (const BackPart& back : m_back) {
      if (!back.parser) continue;
      total += back.parser->total();
      all_read = all_read && back.read_ok;
    }
    const bool too_large = total > RegistryArena::kMaxSize;
    if (all_read && !too_large) {
      RegistryTree tree = std::move(first.tree());
      // Each part's tree goes once it is taken in, which keeps the memory
      // that the trees hold together down.
      for (BackPart& back : m_back) {
        if (!back.parser) continue;
        tree.append(std::move(back.parser->tree()));
        back.parser.reset();
      }
      tree.noteTextSize(total);
      return tree;
    }
    regedit4::Failure joined;
    joined.tooLarge = too_large;
    std::size_t lines_before = 0;
    const auto take = [&](const regedit4::Part& parser, bool read_ok) {
      if (!read_ok) {
        const regedit4::Failure& failure = parser.failure();
        if (!joined.readError) joined.readError = failure.readError;
        if (joined.nulLine == 0 && failure.nulLine != 0)
          joined.nulLine = lines_before + failure.nulLine;
        if (joined.problem.empty() && !failure.problem.empty()) {
          joined.line = lines_before + failure.line;
          joined.problem = failure.problem;
        }
      }
      lines_before += parser.lines();
    };
    take(first, first_read);
    for (const BackPart& back : m_back) {
      if (back.parser) take(*back.parser, back.read_ok);
    }
    return regedit4::describe(joined, m_source);
  }

  const ReadAt& m_read;
  const std::vector<std::size_t> m_starts;
  const std::size_t m_expected;
  const std::string_view m_source;
  std::optional<std::size_t> m_backParts;  // Those the helper reads, when fixed.
  // Which parts a thread has taken on.
  std::vector<std::atomic<bool>> m_claimed;
  // The front's reading: where it got to, and how many parts it has.
  std::uint64_t m_frontAt = 0;
  std::size_t m_frontParts = 1;
  std::vector<BackPart> m_back;  // By part; those the helper read.
};

}  // namespace

Result<RegistryTree> parseRegedit4(const ReadAt& read, std::size_t expected_size,
                                   std::string_view source, const ReadInParts& how) {
  // Parts start at [key] lines found near even steps through the text.
  std::vector<std::size_t> starts{0};
  const std::size_t parts =
      std::min(ReadInParts::kMaxParts, expected_size / std::max<std::size_t>(how.partSize, 1));
  if (parts >= 2 && expected_size < RegistryArena::kMaxSize) {
    for (std::size_t i = 1; i < parts; ++i) {
      const std::size_t start = findSplit(read, expected_size / parts * i);
      if (start > starts.back()) starts.push_back(start);
    }
  }
  if (starts.size() == 1) {
    std::uint64_t at = 0;
    return parseRegedit4(
        [&](char* into, std::size_t room) { return readUpTo(read, at, UINT64_MAX, into, room); },
        expected_size, source);
  }
  return PartsReader(read, std::move(starts), expected_size, source, how.backParts).run();
}
