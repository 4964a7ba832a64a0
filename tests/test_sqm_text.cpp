#include <gtest/gtest.h>

#include <clocale>
#include <locale>

#include "sqm/sqm_text.h"

using namespace TesselSDK;

TEST(SqmText, TrimWhitespace) {
    EXPECT_EQ("a b", TrimWhitespace(" \t\r\n\v\fa b \t\n"));
    EXPECT_EQ("", TrimWhitespace(" \t \n"));
    EXPECT_EQ("", TrimWhitespace(""));
    EXPECT_EQ("\xC3\xA9", TrimWhitespace(" \xC3\xA9 "));  // bytes above 0x7F are not blanks
}

TEST(SqmText, NumbersFromTheFrontOfTheText) {
    long long i = -1;
    EXPECT_TRUE(TryParseInt64("  42", i));
    EXPECT_EQ(42, i);
    EXPECT_TRUE(TryParseInt64("12.9", i));
    EXPECT_EQ(12, i);
    EXPECT_TRUE(TryParseInt64("+7x", i));
    EXPECT_EQ(7, i);
    EXPECT_TRUE(TryParseInt64("-9223372036854775808", i));
    EXPECT_EQ(INT64_MIN, i);
    i = 5;
    EXPECT_FALSE(TryParseInt64("abc", i));
    EXPECT_FALSE(TryParseInt64("", i));
    EXPECT_FALSE(TryParseInt64("+-1", i));
    EXPECT_FALSE(TryParseInt64("9223372036854775808", i));
    EXPECT_EQ(5, i);  // untouched on failure

    double d = -1;
    EXPECT_TRUE(TryParseDouble(" 0.012", d));
    EXPECT_DOUBLE_EQ(0.012, d);
    EXPECT_TRUE(TryParseDouble("1e3ms", d));
    EXPECT_DOUBLE_EQ(1000.0, d);
    EXPECT_TRUE(TryParseDouble("-2.5", d));
    EXPECT_DOUBLE_EQ(-2.5, d);
    d = 3;
    EXPECT_FALSE(TryParseDouble("\"1.5\"", d));
    EXPECT_FALSE(TryParseDouble("true", d));
    EXPECT_FALSE(TryParseDouble("1e999", d));
    EXPECT_EQ(3, d);

    int n = 0;
    EXPECT_TRUE(TryParseInt32(" 5000abc", n));
    EXPECT_EQ(5000, n);
    EXPECT_FALSE(TryParseInt32("2147483648", n));
    EXPECT_FALSE(TryParseInt32("abc", n));
}

TEST(SqmText, ParsingIgnoresTheProcessLocale) {
    // A host that switched to a comma-decimal locale must not change readings.
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "de-DE"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no comma-decimal locale installed";
    double d = 0;
    EXPECT_TRUE(TryParseDouble("12.5", d));
    EXPECT_DOUBLE_EQ(12.5, d);
    EXPECT_TRUE(TryParseDouble("12,5", d));
    EXPECT_DOUBLE_EQ(12.0, d);
    std::setlocale(LC_ALL, "C");
}
