// Channel sets, the channel layout read from the kernel driver, and the ASIO request records.
#include "AsioTestSupport.h"

#include "asio/AsioRecords.h"
#include "driverlib/OxluneRequests.h"

#include <cstring>

namespace {
OxluneChannelInfo Descriptor(uint32_t direction, uint32_t format, const wchar_t* name)
{
    OxluneChannelInfo info{};
    info.key0 = 7;
    info.key1 = direction << 8 | format;
    info.direction = direction;
    info.sampleFormat = format;
    wcsncpy(info.name, name, 41);
    return info;
}
} // namespace

TEST(AsioRequestCodes, FollowFromTheFunctionNumbers)
{
    EXPECT_EQ(0x80883C08u, OXLUNE_IOCTL_GET_ASIO_STREAM_INFO);
    EXPECT_EQ(0x80883CC4u, OXLUNE_IOCTL_STOP_ASIO_STREAMING);
}

TEST(AsioChannelSet, BlocksHaveTheirSizeAndRefillWithTheFormatsSilence)
{
    struct Case {
        uint32_t format;
        uint32_t n;
        uint32_t length;
        uint8_t silence;
    } cases[] = {{1, 256, 2048, 0x00}, {OXLUNE_SAMPLE_FORMAT_DSD, 32, 512, 0x96}};
    for (const Case& c : cases) {
        AsioChannelSet set;
        ASSERT_TRUE(set.addChannel(Descriptor(2, c.format, L"Out"), false));
        AsioChannel* channel = set.outputAt(0);
        ASSERT_TRUE(set.allocateBuffer(channel, c.n));
        EXPECT_EQ(c.length, channel->bufferLength);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(channel->buffer) % 4096) << "whole pages";
        for (uint32_t i = 0; i < c.length; ++i) {
            ASSERT_EQ(0, channel->buffer[i]) << "zero-filled at allocation";
        }
        std::memset(channel->buffer, 0x55, c.length);
        set.fillSilence();
        for (uint32_t i = 0; i < c.length; ++i) {
            ASSERT_EQ(c.silence, channel->buffer[i]) << "format " << c.format << " byte " << i;
        }
        EXPECT_EQ(1u, set.activeOutputList().size());
        set.releaseActive();
        EXPECT_EQ(nullptr, channel->buffer);
        EXPECT_EQ(0u, set.activeOutputList().size());
        set.releaseActive(); // nothing active: nothing happens
    }
}

TEST(AsioChannelSet, LookupAndLayoutComparison)
{
    AsioChannelSet a;
    AsioChannelSet b;
    a.addChannel(Descriptor(1, 1, L"In"), false);
    a.addChannel(Descriptor(2, 1, L"Out"), false);
    b.addChannel(Descriptor(1, 1, L"Renamed"), false);
    b.addChannel(Descriptor(3, 0, L"Other direction value, still an output"), false);
    EXPECT_TRUE(a.sameLayout(b)) << "names, keys and direction values are not compared";
    EXPECT_EQ(nullptr, a.inputAt(-1));
    EXPECT_EQ(nullptr, a.inputAt(1));
    EXPECT_NE(nullptr, a.outputAt(0));
    b.addChannel(Descriptor(2, OXLUNE_SAMPLE_FORMAT_DSD, L"DSD"), false);
    EXPECT_FALSE(a.sameLayout(b));
    AsioChannelSet c;
    c.addChannel(Descriptor(1, 1, L"In"), false);
    c.addChannel(Descriptor(2, OXLUNE_SAMPLE_FORMAT_DSD, L"Out"), false);
    EXPECT_FALSE(a.sameLayout(c)) << "same counts, another format";
}

class AsioChannelLayoutTest : public AsioFixture {};

TEST_F(AsioChannelLayoutTest, InputsWithoutOutputsGetTwoDummyOutputs)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=8 spdif=0"));
    std::vector<OxluneChannelInfo> inputs, outputs;
    RealChannels(&inputs, &outputs);
    std::vector<OxluneChannelKey> keys;
    for (const OxluneChannelInfo& info : inputs) {
        keys.push_back({info.key0, info.key1});
    }
    UseChannelMap(keys, {});
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    long numInputs = 0, numOutputs = 0;
    EXPECT_EQ(ASE_OK, asio->getChannels(&numInputs, &numOutputs));
    EXPECT_EQ(8, numInputs);
    EXPECT_EQ(2, numOutputs);
    const char* names[] = {"Dummy OUT L", "Dummy OUT R"};
    for (long i = 0; i < 2; ++i) {
        ASIOChannelInfo info{};
        info.channel = i;
        info.isInput = ASIOFalse;
        ASSERT_EQ(ASE_OK, asio->getChannelInfo(&info));
        EXPECT_STREQ(names[i], info.name);
        EXPECT_EQ(ASIOSTInt32LSB, info.type);
        EXPECT_EQ(ASIOFalse, info.isActive);
    }
    // Dummy outputs take buffers like any output but never reach the kernel driver.
    ASIOBufferInfo buffers[2] = {{ASIOFalse, 0, {}}, {ASIOTrue, 0, {}}};
    ASIOCallbacks callbacks = host.Callbacks();
    ASSERT_EQ(ASE_OK, asio->createBuffers(buffers, 2, 64, &callbacks));
    EXPECT_NE(nullptr, buffers[0].buffers[0]);
    EXPECT_EQ(static_cast<uint8_t*>(buffers[0].buffers[0]) + 256, buffers[0].buffers[1]);
}

TEST_F(AsioChannelLayoutTest, TheDescriptorsDirectionDecidesNotTheList)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    std::vector<OxluneChannelInfo> inputs, outputs;
    RealChannels(&inputs, &outputs);
    // An input listed among the outputs, and a key the kernel driver does not know.
    UseChannelMap({{inputs[0].key0, inputs[0].key1}},
                  {{outputs[0].key0, outputs[0].key1}, {inputs[1].key0, inputs[1].key1}, {0xDEAD, 0xBEEF}});
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    long numInputs = 0, numOutputs = 0;
    EXPECT_EQ(ASE_OK, asio->getChannels(&numInputs, &numOutputs));
    EXPECT_EQ(2, numInputs);
    EXPECT_EQ(1, numOutputs) << "the unknown key is dropped, no dummies beside a real output";
    ASIOChannelInfo info{};
    info.channel = 1;
    info.isInput = ASIOTrue;
    ASSERT_EQ(ASE_OK, asio->getChannelInfo(&info));
    EXPECT_STREQ("Analog In 2", info.name);
}

TEST_F(AsioChannelLayoutTest, ChannelListCountsAboveTheFormatAreClamped)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    std::vector<OxluneChannelInfo> inputs, outputs;
    RealChannels(&inputs, &outputs);
    const OxluneChannelKey key{inputs[0].key0, inputs[0].key1};
    sim.SetHandler(OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP, [key](SimConnection&, SimRequest& request) -> uint32_t {
        AsioChannelMap map{};
        map.inputs.count = 0xFFFFFFFF; // beyond the 96 entries of the record
        for (auto& entry : map.inputs.channels) {
            entry = key;
        }
        map.outputs.count = 97;
        std::memcpy(request.out, &map, sizeof(map));
        request.bytesReturned = sizeof(map);
        return 0;
    });
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    long numInputs = 0, numOutputs = 0;
    asio->getChannels(&numInputs, &numOutputs);
    EXPECT_EQ(96, numInputs);
}

TEST_F(AsioChannelLayoutTest, AFullLengthNameStaysTerminated)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    sim.SetHandler(OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP, [](SimConnection&, SimRequest& request) -> uint32_t {
        AsioChannelMap map{};
        map.inputs.count = 1;
        map.inputs.channels[0] = {1, 2};
        std::memcpy(request.out, &map, sizeof(map));
        request.bytesReturned = sizeof(map);
        return 0;
    });
    sim.SetHandler(OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO, [](SimConnection&, SimRequest& request) -> uint32_t {
        OxluneChannelInfo info{};
        info.key0 = 1;
        info.key1 = 2;
        info.direction = 1;
        for (auto& c : info.name) {
            c = L'N'; // no terminator at all in the record
        }
        std::memcpy(request.out, &info, sizeof(info));
        request.bytesReturned = sizeof(info);
        return 0;
    });
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOChannelInfo info{};
    info.isInput = ASIOTrue;
    ASSERT_EQ(ASE_OK, asio->getChannelInfo(&info));
    EXPECT_EQ(31u, strlen(info.name));
}

TEST_F(AsioChannelLayoutTest, SwitchRegistrationAndAttachCarryTheRecordsLayout)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    std::vector<uint8_t> registration, attach;
    std::mutex mutex;
    auto capture = [&](uint32_t code, std::vector<uint8_t>* into) {
        SimDriver::RequestHandler inner = sim.Handler(code);
        sim.SetHandler(code, [&, inner, into](SimConnection& c, SimRequest& r) -> uint32_t {
            {
                std::lock_guard<std::mutex> lock(mutex);
                into->assign(r.in, r.in + r.inSize);
            }
            return inner(c, r);
        });
    };
    capture(OXLUNE_IOCTL_REGISTER_ASIO_SWITCH, &registration);
    capture(OXLUNE_IOCTL_ATTACH_ASIO_BUFFER, &attach);
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOBufferInfo buffers[1] = {{ASIOTrue, 0, {}}};
    ASIOCallbacks callbacks = host.Callbacks();
    ASSERT_EQ(ASE_OK, asio->createBuffers(buffers, 1, 256, &callbacks));
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(20u, registration.size());
    uint64_t block = 0;
    uint32_t half = 0;
    std::memcpy(&block, registration.data(), 8);
    std::memcpy(&half, registration.data() + 16, 4);
    EXPECT_NE(0u, block);
    EXPECT_EQ(256u, half);
    ASSERT_EQ(24u, attach.size());
    uint32_t halfBytes = 0, width = 0;
    uint64_t address = 0;
    std::memcpy(&halfBytes, attach.data() + 8, 4);
    std::memcpy(&width, attach.data() + 12, 4);
    std::memcpy(&address, attach.data() + 16, 8);
    EXPECT_EQ(1024u, halfBytes);
    EXPECT_EQ(4u, width);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffers[0].buffers[0]), address) << "zero-extended address";
}
