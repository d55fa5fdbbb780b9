#include "platform/text/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AsciiCase, OnlyTheTwentySixLettersChangeCase) {
  // Every byte, including the neighbours of the letter ranges (@ [ ` {) and
  // the Windows-1252 letters above 127, which keep their case here.
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool upper = byte >= 'A' && byte <= 'Z';
    const bool lower = byte >= 'a' && byte <= 'z';
    EXPECT_EQ(ascii::isLetter(c), upper || lower) << byte;
    EXPECT_EQ(ascii::toUpper(c), lower ? static_cast<char>(byte - 32) : c) << byte;
    EXPECT_EQ(ascii::toLower(c), upper ? static_cast<char>(byte + 32) : c) << byte;
  }
  EXPECT_EQ(ascii::toUpper("oemsetup.inf \xE9t\xE9"), "OEMSETUP.INF \xE9T\xE9");
  EXPECT_EQ(ascii::toLower("ICO\xC9"), "ico\xC9");
}

TEST(AsciiCase, TextsCompareIgnoringTheCaseOfLettersOnly) {
  EXPECT_TRUE(ascii::equalsIgnoringCase("Button", "BUTTON"));
  EXPECT_TRUE(ascii::equalsIgnoringCase("", ""));
  EXPECT_FALSE(ascii::equalsIgnoringCase("Button", "Buttons"));
  EXPECT_FALSE(ascii::equalsIgnoringCase("a@", "A`"));
  EXPECT_FALSE(ascii::equalsIgnoringCase("\xE9", "\xC9"));
  // Zero bytes are characters like any other.
  EXPECT_TRUE(ascii::equalsIgnoringCase(std::string("a\0b", 3), std::string("A\0B", 3)));
  EXPECT_FALSE(ascii::equalsIgnoringCase(std::string("a\0b", 3), std::string("a\0c", 3)));
}

TEST(AsciiTrim, RemovesTheGivenBlanksAtEitherEnd) {
  EXPECT_EQ(ascii::trim(" \t name = x \t", " \t"), "name = x");
  EXPECT_EQ(ascii::trimLeft(" \t name ", " \t"), "name ");
  EXPECT_EQ(ascii::trimRight(" name \t ", " \t"), " name");
  // Only the characters named are blanks.
  EXPECT_EQ(ascii::trim("\t name \v", " "), "\t name \v");
  EXPECT_EQ(ascii::trim("\v\tname\v", " \t\v"), "name");
}

TEST(AsciiTrim, ATextOfBlanksOnlyBecomesEmpty) {
  for (const char* text : {"", " ", " \t ", "\t"}) {
    EXPECT_EQ(ascii::trim(text, " \t"), "") << '"' << text << '"';
    EXPECT_EQ(ascii::trimLeft(text, " \t"), "") << '"' << text << '"';
    EXPECT_EQ(ascii::trimRight(text, " \t"), "") << '"' << text << '"';
  }
}

}  // namespace
