#include <gtest/gtest.h>

#include "support/TextCodec.h"

using quorlin::Utf8ToCp936;

TEST(Cp936, AsciiPassesUnchanged)
{
    EXPECT_EQ(Utf8ToCp936("y=0.517+2.383*x1 |\r\n"), "y=0.517+2.383*x1 |\r\n");
    EXPECT_EQ(Utf8ToCp936(""), "");
}

TEST(Cp936, ChineseBecomesDoubleBytes)
{
    EXPECT_EQ(Utf8ToCp936("[回归方程]"), "[\xBB\xD8\xB9\xE9\xB7\xBD\xB3\xCC]");
    EXPECT_EQ(Utf8ToCp936("降水量"), "\xBD\xB5\xCB\xAE\xC1\xBF");
}

TEST(Cp936, WhatTheCodePageCannotHoldBecomesAQuestionMark)
{
    EXPECT_EQ(Utf8ToCp936("a😀b"), "a?b");
    EXPECT_EQ(Utf8ToCp936("气\xFF温"), "\xC6\xF8?\xCE\xC2");
    EXPECT_EQ(Utf8ToCp936("x\xE6\xB0"), "x?");  // cut off at the end
    EXPECT_EQ(Utf8ToCp936("\xE6\xB0y"), "?y");  // broken sequence, then more text
}
