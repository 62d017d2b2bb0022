#include "driverlib/OxluneMessage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(MessageTest, SetPayloadTakesUpTo512Bytes)
{
    struct Case {
        uint32_t length;
        OxluneStatus expected;
    } cases[] = {{0, 0}, {1, 0}, {511, 0}, {512, 0}, {513, OXLUNE_STATUS_INVALID_LENGTH},
                 {0xFFFFFFFF, OXLUNE_STATUS_INVALID_LENGTH}};
    std::vector<uint8_t> data(1024, 0xAB);
    for (const Case& c : cases) {
        OxluneMessage message;
        message.Init(OXLUNE_MSG_TYPE_REQUEST, OXLUNE_MSG_SET_SAMPLE_RATE);
        message.length = 7; // what a failed set leaves alone
        EXPECT_EQ(c.expected, message.SetPayload(data.data(), c.length)) << c.length;
        if (c.expected == 0) {
            EXPECT_EQ(c.length, message.length);
            EXPECT_EQ(32u + c.length, message.WireSize());
            EXPECT_EQ(0, std::memcmp(message.payload, data.data(), c.length));
        } else {
            EXPECT_EQ(7u, message.length) << "nothing copied";
            EXPECT_EQ(0u, message.payload[0]) << "nothing copied";
        }
    }
}

TEST(MessageTest, GetPayloadNeedsRoomForTheWholePayload)
{
    OxluneMessage message;
    message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, OXLUNE_MSG_DEVICE_NOTICE);
    const uint8_t data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(0u, message.SetPayload(data, sizeof(data)));

    struct Case {
        uint32_t size;
        OxluneStatus expected;
        uint32_t sizeAfter;
    } cases[] = {{15, OXLUNE_STATUS_INVALID_LENGTH, 15}, {0, OXLUNE_STATUS_INVALID_LENGTH, 0}, {16, 0, 16}, {40, 0, 16}};
    for (const Case& c : cases) {
        uint8_t buffer[40];
        std::memset(buffer, 0xEE, sizeof(buffer));
        uint32_t size = c.size;
        EXPECT_EQ(c.expected, message.GetPayload(buffer, &size)) << c.size;
        EXPECT_EQ(c.sizeAfter, size) << c.size;
        if (c.expected == 0) {
            EXPECT_EQ(0, std::memcmp(buffer, data, sizeof(data)));
        } else {
            EXPECT_EQ(0xEE, buffer[0]) << "nothing copied";
        }
    }

    // A received record claiming more than the payload field holds is refused.
    message.length = 600;
    uint8_t big[1024];
    uint32_t size = sizeof(big);
    EXPECT_EQ(OXLUNE_STATUS_INVALID_LENGTH, message.GetPayload(big, &size));
}

TEST(MessageTest, InitAndInitReplyFillTheHeader)
{
    OxluneMessage request;
    std::memset(&request, 0x5A, sizeof(request));
    request.Init(OXLUNE_MSG_TYPE_REQUEST, OXLUNE_MSG_SET_POLICY);
    EXPECT_EQ(32u, request.headerSize);
    EXPECT_EQ(0u, request.length);
    EXPECT_EQ(1u, request.type);
    EXPECT_EQ(1005u, request.code);
    EXPECT_EQ(0u, request.sequence | request.initiator0 | request.initiator1 | request.result);
    EXPECT_EQ(0u, request.payload[0] | request.payload[511]);

    const uint32_t policy = 1;
    ASSERT_EQ(0u, request.SetPayload(&policy, sizeof(policy)));
    request.sequence = 77;
    request.initiator0 = 5;
    request.initiator1 = 0x5A17;

    OxluneMessage reply;
    std::memset(&reply, 0x33, sizeof(reply));
    reply.InitReply(request, OXLUNE_STATUS_SOUND_DEVICE_IN_USE);
    EXPECT_EQ(32u, reply.headerSize);
    EXPECT_EQ(0u, reply.length);
    EXPECT_EQ(2u, reply.type);
    EXPECT_EQ(2001u, reply.code);
    EXPECT_EQ(77u, reply.sequence);
    EXPECT_EQ(5u, reply.initiator0);
    EXPECT_EQ(0x5A17u, reply.initiator1);
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, reply.result);
    EXPECT_EQ(0u, reply.payload[0] | reply.payload[511]);

    // A reply built over its own request keeps the request's words.
    request.InitReply(request, 0);
    EXPECT_EQ(77u, request.sequence);
    EXPECT_EQ(0x5A17u, request.initiator1);
}

} // namespace
