#include "platform/fs/profile.h"

#include <cstring>
#include <string>

#include "tests/platform/fs/machine_fixture.h"

namespace {

struct Answer {
  DWORD length;
  std::string text;
};

}  // namespace

class Profile : public MachineTest {
 protected:
  // Reads section/key from C:\P.INI holding `content`, with "NIL" as default.
  Answer read(const std::string& content, const char* section, const char* key, DWORD size = 256) {
    writeBytes(c("P.INI"), content);
    char buf[300];
    std::memset(buf, 0xCC, sizeof buf);
    const DWORD n = GetPrivateProfileStringA(section, key, "NIL", buf, size, "C:\\P.INI");
    EXPECT_EQ(static_cast<unsigned char>(buf[size]), 0xCC) << "wrote past nSize";
    return {n, std::string(buf, n)};
  }
  std::string value(const std::string& content, const char* section, const char* key) {
    return read(content, section, key).text;
  }
};

TEST_F(Profile, MatchesNamesAndTrimsBlanks) {
  const std::string ini =
      "[Strings]\r\nKivraKey = KIVRAQ76INF \r\n  B=v2\r\nC=\t v 3 \t\r\nMy Key = x y\r\nE=\r\n";
  // Section and key names match in any case.
  EXPECT_EQ(value(ini, "strings", "KIVRAKEY"), "KIVRAQ76INF");
  // Blanks around keys and values go; inner ones stay.
  EXPECT_EQ(value(ini, "Strings", "B"), "v2");
  EXPECT_EQ(value(ini, "Strings", "C"), "v 3");
  EXPECT_EQ(value(ini, "Strings", "My Key"), "x y");
  EXPECT_EQ(value(ini, "Strings", "MyKey"), "NIL");
  // Spaces around the names asked for are dropped.
  EXPECT_EQ(value(ini, " Strings ", " B "), "v2");
  // An empty value is found: the default is not used.
  const Answer empty = read(ini, "Strings", "E");
  EXPECT_EQ(empty.length, 0u);
  // Only a-z fold: bytes of 128 and above compare exactly.
  EXPECT_EQ(value("[S\xE9]\r\nK=v\r\n", "S\xC9", "K"), "NIL");
  // "[ Strings ]" and text after ']' still name the section.
  EXPECT_EQ(value("  [ Strings ] ; c\r\nK=v\r\n", "Strings", "K"), "v");
}

TEST_F(Profile, StripsOneOuterPairOfQuotes) {
  const std::string ini =
      "[S]\r\nQ=\"abc\"\r\nS='abc'\r\nH=\"abc\r\nI=a\"b\"c\r\nB= \"  abc  \" \r\nM=\"abc'\r\n";
  EXPECT_EQ(value(ini, "S", "Q"), "abc");
  EXPECT_EQ(value(ini, "S", "S"), "abc");
  // One quote, inner quotes and unlike quotes stay.
  EXPECT_EQ(value(ini, "S", "H"), "\"abc");
  EXPECT_EQ(value(ini, "S", "I"), "a\"b\"c");
  EXPECT_EQ(value(ini, "S", "M"), "\"abc'");
  // Blanks outside the quotes go, those inside stay.
  EXPECT_EQ(value(ini, "S", "B"), "  abc  ");
  // The quotes go before the value is cut, so nSize 4 keeps "abc" whole.
  EXPECT_EQ(read(ini, "S", "Q", 4).text, "abc");
}

TEST_F(Profile, ReadsOnlyWhatWindowsReads) {
  const std::string ini =
      "K=top\r\n;K1=commented\r\n[S]\r\n  ;K5=x\r\nK=first\r\nK=second\r\nV=val ; tail\r\n"
      "#H=h\r\nJustAKey\r\n[T]\r\nK=t\r\n[s]\r\nC=3\r\n";
  const std::string& file = ini;
  // Lines before the first section belong to none.
  EXPECT_EQ(value(file, "", "K"), "NIL");
  // ';' starts a comment line, never an entry.
  EXPECT_EQ(value(file, "S", ";K5"), "NIL");
  EXPECT_EQ(value(file, "", ";K1"), "NIL");
  // The first key wins; there are no comments after a value; '#' is no comment.
  EXPECT_EQ(value(file, "S", "K"), "first");
  EXPECT_EQ(value(file, "S", "V"), "val ; tail");
  EXPECT_EQ(value(file, "S", "#H"), "h");
  // A line without '=' is no key.
  EXPECT_EQ(value(file, "S", "JustAKey"), "NIL");
  // Only the first section of a name is searched.
  EXPECT_EQ(value(file, "S", "C"), "NIL");
  EXPECT_EQ(value(file, "T", "K"), "t");
  // Line feeds alone and lone carriage returns end lines too.
  EXPECT_EQ(value("[S]\nK=lf\n", "S", "K"), "lf");
  EXPECT_EQ(value("[S]\rK=a\rb\rL=cr", "S", "L"), "cr");
  // A zero byte ends a line's text.
  EXPECT_EQ(value(std::string("[S]\r\nA=1\0junk\r\nB=2", 18), "S", "A"), "1");
  EXPECT_EQ(value(std::string("[S]\r\nA=1\0junk\r\nB=2", 18), "S", "B"), "2");
  // Bytes are taken as they stand, also a UTF-8 byte order mark.
  EXPECT_EQ(value("[S]\r\nX=\xC3\xA9\x80\xFF", "S", "X"), "\xC3\xA9\x80\xFF");
  EXPECT_EQ(value("\xEF\xBB\xBF[S]\r\nK=v\r\n", "S", "K"), "NIL");
}

TEST_F(Profile, CutsToTheBufferAndFallsBack) {
  const std::string ini = "[S]\r\nK=0123456789\r\n";
  // Cut to nSize - 1, with ERROR_MORE_DATA; an exact fit is not cut.
  Answer a = read(ini, "S", "K", 10);
  EXPECT_EQ(a.length, 9u);
  EXPECT_EQ(a.text, "012345678");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  a = read(ini, "S", "K", 11);
  EXPECT_EQ(a.text, "0123456789");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  // nSize 1 gives an empty text.
  EXPECT_EQ(read(ini, "S", "K", 1).length, 0u);
  // nSize 0 writes nothing.
  char buf[4] = {'\xCC', '\xCC', '\xCC', '\xCC'};
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "NIL", buf, 0, "C:\\P.INI"), 0u);
  EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xCC);
  // A missing section, key or file gives the default.
  EXPECT_EQ(value(ini, "X", "K"), "NIL");
  EXPECT_EQ(value(ini, "S", "X"), "NIL");
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "NIL", buf, 4, "C:\\NONE.INI"), 3u);
  EXPECT_STREQ(buf, "NIL");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A folder cannot be read either.
  std::filesystem::create_directory(c("DIR.INI"));
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "NIL", buf, 4, "C:\\DIR.INI"), 3u);
  EXPECT_STREQ(buf, "NIL");
  // The default loses its trailing spaces and is cut like a value; null is "".
  EXPECT_EQ(GetPrivateProfileStringA("S", "X", "NIL  ", buf, 4, "C:\\P.INI"), 3u);
  EXPECT_EQ(GetPrivateProfileStringA("S", "X", "DEFAULTLONG", buf, 4, "C:\\P.INI"), 3u);
  EXPECT_STREQ(buf, "DEF");
  EXPECT_EQ(GetPrivateProfileStringA("S", "X", nullptr, buf, 4, "C:\\P.INI"), 0u);
  // A file name without a drive is looked for in the Windows directory.
  writeBytes(c("WINDOWS/REL.INI"), "[S]\r\nK=rel\r\n");
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "NIL", buf, 4, "rel.ini"), 3u);
  EXPECT_STREQ(buf, "rel");
}

TEST_F(Profile, ListsSectionsAndKeys) {
  writeBytes(c("L.INI"), "[S]\r\nA=1\r\nB=2\r\nA=3\r\n[T]\r\n[S]\r\nC=4\r\n");
  char buf[16];
  std::memset(buf, 0xCC, sizeof buf);
  // Duplicates are listed; keys only from the first section of the name.
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, "", buf, sizeof buf, "C:\\L.INI"), 6u);
  EXPECT_EQ(std::string(buf, 7), std::string("A\0B\0A\0\0", 7));
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, "C:\\L.INI"), 6u);
  EXPECT_EQ(std::string(buf, 7), std::string("S\0T\0S\0\0", 7));
  // A list that does not fit is cut and ends in two zeros.
  std::memset(buf, 0xCC, sizeof buf);
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, "", buf, 4, "C:\\L.INI"), 2u);
  EXPECT_EQ(std::string(buf, 4), std::string("A\0\0\0", 4));
  EXPECT_EQ(static_cast<unsigned char>(buf[4]), 0xCC);
  // A name that fills the buffer up to its last byte but one, then another
  // name: nothing of that one is copied, and nothing past the buffer.
  writeBytes(c("F.INI"), "[S]\r\nABC=1\r\nD=2\r\n");
  std::memset(buf, 0xCC, sizeof buf);
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, "", buf, 5, "C:\\F.INI"), 3u);
  EXPECT_EQ(std::string(buf, 5), std::string("ABC\0\0", 5));
  EXPECT_EQ(static_cast<unsigned char>(buf[5]), 0xCC);
}
