#include "winsupport/WnText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

namespace {

// Fills a buffer with a marker, so that writes past the capacity show.
struct Guarded {
    wchar_t data[16];
    Guarded() { std::wmemset(data, L'#', 16); }
    bool IntactFrom(size_t index) const
    {
        for (size_t i = index; i < 16; ++i) {
            if (data[i] != L'#') {
                return false;
            }
        }
        return true;
    }
};

TEST(Text, CopyAtCapacityZeroOneAndExactFit)
{
    struct Case {
        uint32_t capacity;
        uint32_t copied;
        const wchar_t* expected;
    } cases[] = {{1, 0, L""}, {3, 2, L"ab"}, {4, 3, L"abc"}, {5, 3, L"abc"}};
    for (const Case& c : cases) {
        Guarded g;
        EXPECT_EQ(c.copied, CopyText(g.data, L"abc", c.capacity)) << c.capacity;
        EXPECT_STREQ(c.expected, g.data) << c.capacity;
        EXPECT_TRUE(g.IntactFrom(c.capacity)) << c.capacity;
    }
    Guarded zero;
    EXPECT_EQ(0u, CopyText(zero.data, L"abc", 0));
    EXPECT_TRUE(zero.IntactFrom(0));
}

TEST(Text, AppendKeepsTheWholeWithinCapacity)
{
    struct Case {
        uint32_t capacity;
        uint32_t length;
        const wchar_t* expected;
    } cases[] = {{3, 2, L"ab"}, {4, 3, L"abc"}, {5, 4, L"abcd"}, {6, 4, L"abcd"}};
    for (const Case& c : cases) {
        Guarded g;
        CopyText(g.data, L"ab", 16);
        g.data[3] = L'#';
        EXPECT_EQ(c.length, AppendText(g.data, L"cd", c.capacity)) << c.capacity;
        EXPECT_STREQ(c.expected, g.data) << c.capacity;
        EXPECT_TRUE(g.IntactFrom(c.capacity)) << c.capacity;
    }
    Guarded zero;
    EXPECT_EQ(0u, AppendText(zero.data, L"cd", 0));
    EXPECT_TRUE(zero.IntactFrom(0));
}

TEST(Text, FormatCutsAndReports)
{
    Guarded g;
    EXPECT_EQ(87u, FormatText(g.data, 0, L"%d", 5));
    EXPECT_TRUE(g.IntactFrom(0));
    EXPECT_EQ(111u, FormatText(g.data, 1, L"%d", 5));
    EXPECT_STREQ(L"", g.data);
    EXPECT_EQ(0u, FormatText(g.data, 4, L"%d", 123)); // exact fit
    EXPECT_STREQ(L"123", g.data);
    EXPECT_EQ(111u, FormatText(g.data, 4, L"%d", 1234));
    EXPECT_STREQ(L"123", g.data);
    EXPECT_TRUE(g.IntactFrom(4));
    EXPECT_EQ(0u, FormatText(g.data, 16, L"%s/%hs", L"w", "n"));
    EXPECT_STREQ(L"w/n", g.data);
}

TEST(Text, NarrowCopies)
{
    char narrow[8];
    std::memset(narrow, '#', sizeof(narrow));
    EXPECT_EQ(3u, CopyTextA(narrow, "abcdef", 4));
    EXPECT_STREQ("abc", narrow);
    EXPECT_EQ('#', narrow[4]);
    EXPECT_EQ(0u, CopyTextA(narrow, "abc", 1));
    EXPECT_STREQ("", narrow);

    // The low byte of each wide character is kept.
    const wchar_t wide[] = {L'A', 0x0142, 0x00E9, L'z', 0};
    char out[8];
    EXPECT_EQ(4u, CopyTextWideToNarrow(out, wide, 8));
    EXPECT_EQ('A', out[0]);
    EXPECT_EQ(static_cast<char>(0x42), out[1]);
    EXPECT_EQ(static_cast<char>(0xE9), out[2]);
    EXPECT_EQ('z', out[3]);
    EXPECT_EQ('\0', out[4]);
    EXPECT_EQ(2u, CopyTextWideToNarrow(out, wide, 3));
    EXPECT_EQ('\0', out[2]);
}

} // namespace
