#include "driverlib/OxluneIoctl.h"
#include "driverlib/OxluneStatus.h"

#include <gtest/gtest.h>

namespace {

TEST(Status, NamesFromTheTableAndUnknownValues)
{
    struct Case {
        OxluneStatus status;
        const char* name;
    } cases[] = {
        {0, "OXLUNE_STATUS_SUCCESS"},
        {5, "???"},
        {0xE0000001, "OXLUNE_STATUS_FAILED"},
        {0xE0000019, "???"},
        {0xE000003A, "OXLUNE_STATUS_INVALID_STATE"},
        {0xE0000090, "OXLUNE_STATUS_SOUND_DEVICE_IN_USE"},
        {0xE0000100, "OXLUNE_STATUS_PENDING"},
        {0xFFFFFFFF, "???"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.name, StatusName(c.status)) << std::hex << c.status;
    }
}

TEST(Status, UserTextWithAndWithoutExplanation)
{
    struct Case {
        OxluneStatus status;
        const wchar_t* expected;
    } cases[] = {
        {OXLUNE_STATUS_NO_DEVICES, L"Changing the sample rate failed. (Status=OXLUNE_STATUS_NO_DEVICES).\n"
                                   L"There are no devices connected."},
        {OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE,
         L"Changing the sample rate failed. (Status=OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE).\n"
         L"The device is not connected to a USB high-speed port."},
        {OXLUNE_STATUS_NO_STREAMING_DEVICE,
         L"Changing the sample rate failed. (Status=OXLUNE_STATUS_NO_STREAMING_DEVICE).\n"
         L"There is no device selected for streaming."},
        {OXLUNE_STATUS_TIMEOUT, L"Changing the sample rate failed. (Status=OXLUNE_STATUS_TIMEOUT)."},
        {1167, L"Changing the sample rate failed. (Status=?\?\?)."},
    };
    for (const Case& c : cases) {
        wchar_t text[300];
        FormatStatusText(text, 300, L"Changing the sample rate failed.", c.status);
        EXPECT_STREQ(c.expected, text);
    }
    wchar_t small[10];
    FormatStatusText(small, 10, L"Changing the sample rate failed.", OXLUNE_STATUS_NO_DEVICES);
    EXPECT_STREQ(L"Changing ", small);
}

TEST(Status, RequestCodes)
{
    static_assert(OxluneIoctlCode(0x801) == 0x80882004u);
    EXPECT_EQ(0x80882040u, OxluneIoctlCode(0x810));
    EXPECT_EQ(0x80882044u, OxluneIoctlCode(0x811));
    EXPECT_EQ(0x80883C00u, OxluneIoctlCode(0xF00));
}

} // namespace
