#include "text/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(FormatThousands, GroupsDigitsOfTheUnsignedValue) {
    const struct {
        uint32_t value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {123456, "123,456"},
        {1234567, "1,234,567"},
        {2147483647, "2,147,483,647"},
        {2147483648u, "2,147,483,648"},
        {4294967295u, "4,294,967,295"},
    };
    for (const auto& c : cases) {
        char buffer[15];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_STREQ(FormatThousands(c.value, buffer), c.text) << c.value;
    }
}

TEST(InstallerNames, ComeFromTheFileNameAlone) {
    const struct {
        const char* path;
        const char* baseName;
        const char* saverFileName;
    } cases[] = {
        {"C:\\Downloads\\MySaver.exe", "MySaver", "MYSAVER.SCR"},
        {"C:\\Downloads\\mysaver.exe", "mysaver", "MYSAVER.SCR"},
        {"C:\\Downloads\\my.saver.exe", "my.saver", "MY.SCR"},
        {"C:\\Downloads\\Fish Tank.exe", "Fish Tank", "FISH TANK.SCR"},
        // Letters above 0x7F are left as they are by the uppercasing.
        {"C:\\Dl\\\xe9t\xe9.exe", "\xe9t\xe9", "\xe9T\xe9.SCR"},
        // A dot in a directory name is not the file's extension.
        {"C:\\my.dir\\saver", "saver", "SAVER.SCR"},
        {"saver.exe", "saver", "SAVER.SCR"},
    };
    for (const auto& c : cases) {
        char out[260];
        ASSERT_TRUE(BaseName(c.path, out, sizeof out));
        EXPECT_STREQ(out, c.baseName) << c.path;
        ASSERT_TRUE(SaverFileNameOf(c.path, out, sizeof out));
        EXPECT_STREQ(out, c.saverFileName) << c.path;
    }
}

TEST(InstallerNames, ThatDoNotFitAreRefused) {
    char out[8];
    EXPECT_FALSE(BaseName("C:\\LongerName.exe", out, sizeof out));
    EXPECT_FALSE(SaverFileNameOf("C:\\Name.exe", out, sizeof out)); // NAME.SCR needs 9
    EXPECT_TRUE(SaverFileNameOf("C:\\Nam.exe", out, sizeof out));
    EXPECT_STREQ(out, "NAM.SCR");
}

TEST(DataDirectory, JoinsWithOneBackslash) {
    const struct {
        const char* windows;
        const char* expected;
    } cases[] = {
        {"C:\\Windows", "C:\\Windows\\TORVANIX\\MOREVANE\\MySaver"},
        {"C:\\", "C:\\TORVANIX\\MOREVANE\\MySaver"},
    };
    for (const auto& c : cases) {
        char out[260];
        ASSERT_TRUE(DataDirectoryOf(c.windows, "MySaver", out, sizeof out));
        EXPECT_STREQ(out, c.expected);
    }
    char small[30];
    EXPECT_FALSE(DataDirectoryOf("C:\\Windows", "MySaver", small, sizeof small));
}

TEST(BoundedText, NeverWritesPastTheBuffer) {
    char buffer[12];
    memset(buffer, '#', sizeof buffer);
    char* guarded = buffer + 1; // 10 bytes usable, one guard byte on each side
    guarded[-1] = '#';
    CopyText(guarded, 10, "abc");
    EXPECT_TRUE(AppendText(guarded, 10, "def"));
    EXPECT_FALSE(AppendText(guarded, 10, "ghijkl"));
    EXPECT_STREQ(guarded, "abcdefghi");
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(buffer[11], '#');
    EXPECT_FALSE(AppendBackslash(guarded, 10));
}

TEST(TrimTrailingBlanks, RemovesBlanksOnly) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Fish Tank   ", "Fish Tank"}, {"    ", ""},         {"", ""}, {"Tab\t", "Tab\t"},
        {"Tab  \t", "Tab  \t"},        {"Tab\t  ", "Tab\t"},
    };
    for (const auto& c : cases) {
        char buffer[40];
        strcpy(buffer, c.in);
        TrimTrailingBlanks(buffer);
        EXPECT_STREQ(buffer, c.out) << '"' << c.in << '"';
    }
}
