#include "fileutil/FileSelection.h"

#include <gtest/gtest.h>

#include <string>

using narvo::BuildOpenFileFilter;
using namespace std::string_literals;

TEST(BuildOpenFileFilter, TabsBecomeTerminatorsOfADoubleTerminatedList) {
    EXPECT_EQ(BuildOpenFileFilter("Text files\t*.txt\tAll\t*.*"), "Text files\0*.txt\0All\0*.*\0\0"s);
}

TEST(BuildOpenFileFilter, TrailingBlanksAreDroppedBeforeSplitting) {
    EXPECT_EQ(BuildOpenFileFilter("Text\t*.txt\t"), "Text\0*.txt\0\0"s);
    EXPECT_EQ(BuildOpenFileFilter("Text\t*.txt  \t\r\n"), "Text\0*.txt\0\0"s);
    // Leading blanks stay: only the end is trimmed.
    EXPECT_EQ(BuildOpenFileFilter(" Text\t*.txt"), " Text\0*.txt\0\0"s);
}

TEST(BuildOpenFileFilter, EmptyOrBlankTextGivesTheDefault) {
    const std::string all = "All Files\0*.*\0\0"s;
    EXPECT_EQ(BuildOpenFileFilter(""), all);
    EXPECT_EQ(BuildOpenFileFilter(" \t \t"), all);
}

TEST(BuildOpenFileFilter, BytesOutsideAsciiAreNeverTrimmed) {
    // A description in code page 949 with no pattern after it: passed on whole.
    const std::string korean = "\xC5\xD8\xBD\xBA\xC6\xAE";
    EXPECT_EQ(BuildOpenFileFilter(korean), korean + "\0\0"s);
}
