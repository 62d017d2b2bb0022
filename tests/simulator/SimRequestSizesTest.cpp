// Every request of the kernel model checks its buffer sizes before it touches anything.
#include "SimKernelFixture.h"

#include <random>

namespace {

constexpr uint32_t kBadInput = OXLUNE_STATUS_INVALID_INBUFFER_SIZE;

struct SizeCase {
    const char* what;
    uint32_t code;
    uint32_t inSize;  // the exact input size, or the entry size of an array
    uint32_t outSize; // the smallest output capacity; 0: no output
};

const SizeCase kSizes[] = {
    {"receive message", OXLUNE_IOCTL_RECEIVE_MESSAGE, 0, 544},
    {"receive notification", OXLUNE_IOCTL_RECEIVE_NOTIFICATION, 0, 544},
    {"set events", OXLUNE_IOCTL_SET_EVENTS, 16, 0},
    {"register", OXLUNE_IOCTL_REGISTER, 4, 0},
    {"query devices", OXLUNE_IOCTL_QUERY_DEVICES, 0, 1124},
    {"bind", OXLUNE_IOCTL_BIND_DEVICE, 8, 0},
    {"input channels", OXLUNE_IOCTL_GET_INPUT_CHANNELS, 0, 772},
    {"output channels", OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, 0, 772},
    {"channel info", OXLUNE_IOCTL_GET_CHANNEL_INFO, 8, 108},
    {"sample rates", OXLUNE_IOCTL_GET_SAMPLE_RATES, 0, 56},
    {"buffer sizes", OXLUNE_IOCTL_GET_BUFFER_SIZES, 0, 32},
    {"streaming status", OXLUNE_IOCTL_GET_STREAMING_STATUS, 0, 36},
    {"error counters", OXLUNE_IOCTL_GET_ERROR_COUNTERS, 0, 20},
    {"policy", OXLUNE_IOCTL_GET_POLICY, 0, 4},
    {"streaming state", OXLUNE_IOCTL_SET_STREAMING_STATE, 8, 0},
    {"apply rate", OXLUNE_IOCTL_APPLY_SAMPLE_RATE, 4, 0},
    {"apply buffers", OXLUNE_IOCTL_APPLY_BUFFER_SIZES, 12, 0},
    {"announce rate", OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, 4, 0},
    {"apply policy", OXLUNE_IOCTL_APPLY_POLICY, 4, 0},
    {"apply device", OXLUNE_IOCTL_APPLY_STREAMING_DEVICE, 12, 0},
    {"stream formats", OXLUNE_IOCTL_GET_STREAM_FORMATS, 0, 3624},
    {"init levels", OXLUNE_IOCTL_INIT_CHANNEL_LEVELS, 136, 0},
    {"endpoint channels", OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS, 6152, 0},
    {"endpoint pairs", OXLUNE_IOCTL_SET_ENDPOINT_PAIRS, 9480, 0},
    {"input meters", OXLUNE_IOCTL_GET_INPUT_METERS, 8, 8},
    {"output meters", OXLUNE_IOCTL_GET_OUTPUT_METERS, 8, 8},
    {"mixer pins", OXLUNE_IOCTL_GET_MIXER_PINS, 4, 80},
    {"get controls", OXLUNE_IOCTL_GET_OUTPUT_CONTROLS, 8, 8},
    {"get connections", OXLUNE_IOCTL_GET_CONNECTIONS, 12, 12},
    {"set controls", OXLUNE_IOCTL_SET_OUTPUT_CONTROLS, 8, 8},
    {"set connections", OXLUNE_IOCTL_SET_CONNECTIONS, 12, 12},
    {"set bypass", OXLUNE_IOCTL_SET_VOLUME_BYPASS, 1, 0},
    {"get bypass", OXLUNE_IOCTL_GET_VOLUME_BYPASS, 0, 1},
    {"set bypass mute", OXLUNE_IOCTL_SET_BYPASS_MUTE, 1, 0},
    {"get bypass mute", OXLUNE_IOCTL_GET_BYPASS_MUTE, 0, 1},
    {"get levels", OXLUNE_IOCTL_GET_CHANNEL_LEVELS, 136, 136},
    {"set levels", OXLUNE_IOCTL_SET_CHANNEL_LEVELS, 136, 0},
    {"set effect", OXLUNE_IOCTL_SET_EFFECT_PARAMETERS, 520, 0},
    {"get effect", OXLUNE_IOCTL_GET_EFFECT_PARAMETERS, 520, 520},
    {"switch parameter", OXLUNE_IOCTL_SET_SWITCH_PARAMETER, 8, 0},
    {"switch", OXLUNE_IOCTL_SET_SWITCH, 8, 0},
};

class SimRequestSizesTest : public SimKernelFixture {
protected:
    void SetUp() override
    {
        SimKernelFixture::SetUp();
        const OxluneChannelKey key = Plug("KV1");
        // One connection that is the server and bound to the device, so that nothing but
        // the sizes can be wrong.
        ASSERT_EQ(0u, client.Connect(OXLUNE_ROLE_SERVER));
        ASSERT_EQ(0u, client.Bind(key.key0, key.key1));
    }
    uint32_t Call(uint32_t code, uint32_t inSize, uint32_t outSize)
    {
        return client.Context().IoControl(code, inSize != 0 ? in.data() : nullptr, inSize,
                                          outSize != 0 ? out.data() : nullptr, outSize);
    }

    SimTestClient client{name};
    std::vector<uint8_t> in = std::vector<uint8_t>(16384, 0);
    std::vector<uint8_t> out = std::vector<uint8_t>(16384, 0);
};

TEST_F(SimRequestSizesTest, WrongInputAndShortOutputAreRefused)
{
    for (const SizeCase& c : kSizes) {
        const uint32_t goodOut = c.outSize != 0 ? c.outSize : 0;
        EXPECT_EQ(kBadInput, Call(c.code, c.inSize + 1, goodOut)) << c.what << " input one byte long";
        EXPECT_EQ(kBadInput, Call(c.code, c.inSize != 0 ? c.inSize - 1 : 4, goodOut)) << c.what << " input short";
        if (c.outSize != 0) {
            EXPECT_EQ(OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE, Call(c.code, c.inSize, c.outSize - 1))
                << c.what << " output one byte short";
        }
    }
    // The model is still the same: nothing was registered, bound or changed by the refusals.
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, client.Status().state);
    EXPECT_EQ(1u, sim.Kernel().Devices().size());
}

TEST_F(SimRequestSizesTest, MessagesAreCheckedAgainstTheirHeader)
{
    OxluneMessage message;
    message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, OXLUNE_MSG_STREAMING_CHANGED);
    message.length = 4;
    struct Case {
        const char* what;
        uint32_t headerSize, length, inSize, status;
    } cases[] = {
        {"shorter than a header", 32, 0, 31, OXLUNE_STATUS_INVALID_INBUFFER_SIZE},
        {"header size 33", 33, 0, 32, OXLUNE_STATUS_INVALID_HD_SIZE},
        {"payload of 513", 32, 513, 544, OXLUNE_STATUS_INVALID_LENGTH},
        {"fewer bytes than the length", 32, 4, 35, OXLUNE_STATUS_LENGTH_MISMATCH},
        {"more bytes than the length", 32, 4, 37, OXLUNE_STATUS_LENGTH_MISMATCH},
        {"the whole record with a short payload", 32, 4, 544, OXLUNE_STATUS_LENGTH_MISMATCH},
        {"exact", 32, 4, 36, 0},
        {"largest payload", 32, 512, 544, 0},
    };
    for (const Case& c : cases) {
        message.headerSize = c.headerSize;
        message.length = c.length;
        EXPECT_EQ(c.status, client.Context().IoControl(OXLUNE_IOCTL_SEND_MESSAGE, &message, c.inSize, nullptr, 0))
            << c.what;
    }
}

TEST_F(SimRequestSizesTest, GarbageOfAnySizeNeverBreaksTheModel)
{
    std::mt19937 random(12345);
    const uint32_t sizes[] = {0, 1, 3, 4, 8, 12, 16, 33, 136, 520, 544, 4096};
    std::vector<uint32_t> codes;
    for (const SizeCase& c : kSizes) {
        codes.push_back(c.code);
    }
    codes.push_back(OXLUNE_IOCTL_SEND_MESSAGE);
    codes.push_back(OxluneIoctlCode(0x817)); // no such request
    for (uint32_t code : codes) {
        for (uint32_t inSize : sizes) {
            for (uint8_t& byte : in) {
                byte = static_cast<uint8_t>(random());
            }
            const uint32_t outSize = sizes[random() % (sizeof(sizes) / sizeof(sizes[0]))];
            Call(code, inSize, outSize); // any status; the model must survive
        }
    }
    EXPECT_EQ(OXLUNE_STATUS_INVALID_IOCTL, Call(OxluneIoctlCode(0x817), 0, 0));
    // Still serving, with a consistent view.
    SimTestClient fresh(name);
    ASSERT_EQ(0u, fresh.Open());
    OxluneDeviceList list{};
    EXPECT_EQ(0u, fresh.Read(OXLUNE_IOCTL_QUERY_DEVICES, &list));
    EXPECT_EQ(1u, list.count);
    EXPECT_NE(std::string::npos, sim.Command("state").rfind("ok", 0));
}

} // namespace
