// The driver object's control operations: init, buffer sizes, rates, clock sources, future.
#include "AsioTestSupport.h"

#include "asio/AsioRecords.h"
#include "driverlib/OxluneRequests.h"

#include <cstring>

class AsioDriverControlTest : public AsioFixture {
protected:
    // The payloads of the service requests with this code, in order.
    std::vector<std::vector<uint8_t>> Sent(uint32_t code)
    {
        std::vector<std::vector<uint8_t>> result;
        for (const auto& request : service.Requests()) {
            if (request.code == code) {
                result.push_back(request.payload);
            }
        }
        return result;
    }
    static uint32_t Word(const std::vector<uint8_t>& payload)
    {
        uint32_t value = 0;
        std::memcpy(&value, payload.data(), payload.size() < 4 ? payload.size() : 4);
        return value;
    }
};

TEST_F(AsioDriverControlTest, InitTwiceConnectsOnce)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    EXPECT_TRUE(Init());
    const size_t connections = sim.Connections().size();
    EXPECT_TRUE(Init());
    EXPECT_EQ(connections, sim.Connections().size());
    EXPECT_EQ(2u, connections) << "the service stand-in and the driver";
    char message[124] = "x";
    asio->getErrorMessage(message);
    EXPECT_STREQ("", message);
    char driverName[32];
    asio->getDriverName(driverName);
    EXPECT_STREQ("Kuvo ASIO Driver", driverName);
    EXPECT_EQ(293, asio->getDriverVersion());
}

TEST_F(AsioDriverControlTest, WithoutADeviceInitFailsWithTheMessage)
{
    ASSERT_NO_FATAL_FAILURE(CreateDriver()); // nothing serves the name
    EXPECT_FALSE(Init());
    char message[124] = {};
    asio->getErrorMessage(message);
    EXPECT_STREQ("No device is connected to the PC.", message);
    long inputs = -1, outputs = -1;
    EXPECT_EQ(ASE_NotPresent, asio->getChannels(&inputs, &outputs));
    EXPECT_EQ(0, inputs);
    ASIOSampleRate rate = -1;
    EXPECT_EQ(ASE_OK, asio->getSampleRate(&rate));
    EXPECT_EQ(0.0, rate);
}

TEST_F(AsioDriverControlTest, InitWaitsForRunningStreamingOnlyWhileItCanCome)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    struct Case {
        uint32_t state;
        int requests;
    } cases[] = {{OXLUNE_STREAMING_ERROR, 1}, {OXLUNE_STREAMING_PREPARED, 201}};
    for (const Case& c : cases) {
        UseStreamingState(c.state);
        const int before = StatusRequests();
        CreateDriver();
        EXPECT_FALSE(Init()) << c.state;
        EXPECT_EQ(c.requests, StatusRequests() - before) << "state " << c.state;
        ReleaseDriver();
    }
}

TEST_F(AsioDriverControlTest, BufferSizesFollowTheTable)
{
    struct Case {
        uint32_t device;
        long min, max, preferred;
    } cases[] = {{48, 32, 64, 48}, {256, 256, 256, 256}, {384, 256, 512, 384}, {8, 8, 8, 8}, {65537, 65537, 65537, 65537}};
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0 dsd"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    AsioStreamInfo info{};
    info.currentRate = 48000;
    info.rateCount = 3;
    info.rates[0] = 44100;
    info.rates[1] = 48000;
    info.rates[2] = 2822400;
    for (const Case& c : cases) {
        info.bufferSize = c.device;
        UseStreamInfo(info);
        long min = 0, max = 0, preferred = 0, granularity = -1;
        EXPECT_EQ(ASE_OK, asio->getBufferSize(&min, &max, &preferred, &granularity));
        EXPECT_EQ(c.min, min) << c.device;
        EXPECT_EQ(c.max, max) << c.device;
        EXPECT_EQ(c.preferred, preferred) << c.device;
        EXPECT_EQ(0, granularity);
    }
    // In DSD mode the host counts one-bit samples: 64 per byte pair of the device size.
    ASIOIoFormat format{};
    format.FormatType = kASIODSDFormat;
    EXPECT_EQ(ASE_SUCCESS, asio->future(kAsioSetIoFormat, &format));
    info.bufferSize = 32;
    UseStreamInfo(info);
    long min = 0, max = 0, preferred = 0, granularity = 0;
    asio->getBufferSize(&min, &max, &preferred, &granularity);
    EXPECT_EQ(2048, preferred);
    EXPECT_EQ(2048, min);
    EXPECT_EQ(2048, max);
}

TEST_F(AsioDriverControlTest, RatesAreTruncatedAndMustMatchTheMode)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0 dsd"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    EXPECT_EQ(ASE_OK, asio->canSampleRate(44100.7));
    EXPECT_EQ(ASE_NoClock, asio->canSampleRate(44099.9));
    EXPECT_EQ(ASE_NoClock, asio->canSampleRate(-1.0));
    EXPECT_EQ(ASE_NoClock, asio->canSampleRate(1e300));
    EXPECT_EQ(ASE_OK, asio->setSampleRate(44100.7));
    auto sent = Sent(OXLUNE_MSG_SET_SAMPLE_RATE);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(4u, sent[0].size());
    EXPECT_EQ(44100u, Word(sent[0]));
    ASIOSampleRate rate = 0;
    asio->getSampleRate(&rate);
    EXPECT_EQ(44100.0, rate);

    EXPECT_EQ(ASE_OK, asio->canSampleRate(2822400.0));
    EXPECT_EQ(ASE_NoClock, asio->setSampleRate(2822400.0)) << "PCM mode takes only PCM rates";
    EXPECT_EQ(1u, Sent(OXLUNE_MSG_SET_SAMPLE_RATE).size());

    service.ForceReply(OXLUNE_MSG_SET_SAMPLE_RATE, OXLUNE_STATUS_SOUND_DEVICE_IN_USE);
    EXPECT_EQ(ASE_HWMalfunction, asio->setSampleRate(48000.0));
}

TEST_F(AsioDriverControlTest, ClockSourcesAndOutputReady)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    EXPECT_EQ(ASE_NotPresent, asio->outputReady());
    ASIOClockSource clocks[2]{};
    long count = 2;
    EXPECT_EQ(ASE_NotPresent, asio->getClockSources(clocks, &count)) << "no channels before init";
    EXPECT_EQ(ASE_NotPresent, asio->setClockSource(0));
    ASSERT_TRUE(Init());
    EXPECT_EQ(ASE_NotPresent, asio->outputReady());
    count = 0;
    EXPECT_EQ(ASE_InvalidParameter, asio->getClockSources(clocks, &count));
    count = 2;
    EXPECT_EQ(ASE_OK, asio->getClockSources(clocks, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, clocks[0].index);
    EXPECT_EQ(-1, clocks[0].associatedChannel);
    EXPECT_EQ(-1, clocks[0].associatedGroup);
    EXPECT_EQ(ASIOTrue, clocks[0].isCurrentSource);
    EXPECT_STREQ("Computer", clocks[0].name);
    EXPECT_EQ(ASE_OK, asio->setClockSource(0));
    EXPECT_EQ(ASE_InvalidParameter, asio->setClockSource(1));
    ASIOChannelInfo info{};
    info.channel = -1;
    EXPECT_EQ(ASE_NotPresent, asio->getChannelInfo(&info));
    info.channel = 2;
    EXPECT_EQ(ASE_NotPresent, asio->getChannelInfo(&info)) << "index equal to the count";
}

TEST_F(AsioDriverControlTest, FutureSelectors)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator()); // no DSD rates
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOIoFormat pcm{};
    pcm.FormatType = kASIOPCMFormat;
    ASIOIoFormat dsd{};
    dsd.FormatType = kASIODSDFormat;
    ASIOIoFormat other{};
    other.FormatType = 7;
    struct Case {
        long selector;
        void* opt;
        ASIOError result;
    } cases[] = {
        {kAsioEnableTimeCodeRead, nullptr, ASE_SUCCESS}, {kAsioDisableTimeCodeRead, nullptr, ASE_SUCCESS},
        {kAsioSetInputMonitor, nullptr, ASE_NotPresent}, {kAsioCanInputMonitor, nullptr, ASE_NotPresent},
        {kAsioCanTimeInfo, nullptr, ASE_SUCCESS},        {kAsioCanTimeCode, nullptr, ASE_NotPresent},
        {kAsioGetIoFormat, nullptr, ASE_NotPresent},     {kAsioCanDoIoFormat, nullptr, ASE_NotPresent},
        {kAsioCanDoIoFormat, &pcm, ASE_SUCCESS},         {kAsioCanDoIoFormat, &dsd, ASE_NotPresent},
        {kAsioCanDoIoFormat, &other, ASE_NotPresent},    {kAsioSetIoFormat, nullptr, ASE_NotPresent},
        {kAsioSetIoFormat, &dsd, ASE_NotPresent},        {kAsioSetIoFormat, &other, ASE_NotPresent},
        {12345, nullptr, ASE_NotPresent},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, asio->future(c.selector, c.opt)) << "selector " << c.selector;
    }
    EXPECT_TRUE(Sent(OXLUNE_MSG_SET_DSD_MODE).empty()) << "no DSD rate: no request";
    ASIOIoFormat got{};
    got.FormatType = 5;
    EXPECT_EQ(ASE_SUCCESS, asio->future(kAsioGetIoFormat, &got));
    EXPECT_EQ(kASIOPCMFormat, got.FormatType);
}

TEST_F(AsioDriverControlTest, DsdModeAndBackAndReleaseReturnsToPcm)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0 dsd"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOIoFormat dsd{};
    dsd.FormatType = kASIODSDFormat;
    EXPECT_EQ(ASE_SUCCESS, asio->future(kAsioCanDoIoFormat, &dsd));
    EXPECT_EQ(ASE_SUCCESS, asio->future(kAsioSetIoFormat, &dsd));
    EXPECT_TRUE(driver->inDsdMode());
    ASIOSampleRate rate = 0;
    asio->getSampleRate(&rate);
    EXPECT_EQ(2822400.0, rate) << "the first DSD rate of the list";
    long inputs = 0, outputs = 0;
    EXPECT_EQ(ASE_OK, asio->getChannels(&inputs, &outputs));
    EXPECT_EQ(0, inputs);
    EXPECT_EQ(2, outputs) << "the DSD outputs, no dummies in DSD mode";
    ASIOChannelInfo info{};
    ASSERT_EQ(ASE_OK, asio->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTDSDInt8MSB1, info.type);
    EXPECT_EQ(ASE_OK, asio->setSampleRate(2822400.0));
    EXPECT_EQ(ASE_NoClock, asio->setSampleRate(48000.0)) << "DSD mode takes only DSD rates";

    service.ForceReply(OXLUNE_MSG_SET_DSD_MODE, OXLUNE_STATUS_IN_USE);
    ASIOIoFormat pcm{};
    pcm.FormatType = kASIOPCMFormat;
    EXPECT_EQ(ASE_HWMalfunction, asio->future(kAsioSetIoFormat, &pcm));
    EXPECT_TRUE(driver->inDsdMode()) << "a refused switch changes nothing";
    service.ClearForcedReplies();
    service.ClearRequests();

    ReleaseDriver();
    auto sent = Sent(OXLUNE_MSG_SET_DSD_MODE);
    ASSERT_EQ(1u, sent.size());
    ASSERT_EQ(1u, sent[0].size());
    EXPECT_EQ(0, sent[0][0]);
    auto rates = Sent(OXLUNE_MSG_SET_SAMPLE_RATE);
    ASSERT_EQ(1u, rates.size());
    EXPECT_EQ(44100u, Word(rates[0])) << "the first PCM rate of the list";
}

TEST_F(AsioDriverControlTest, LatenciesAddTheBufferSize)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    long input = -1, output = -1;
    EXPECT_EQ(ASE_OK, asio->getLatencies(&input, &output));
    EXPECT_EQ(0, input) << "no connection: 0";
    EXPECT_EQ(0, output);
    ASSERT_TRUE(Init());
    ASIOBufferInfo buffers[1] = {{ASIOTrue, 0, {}}};
    ASIOCallbacks callbacks = host.Callbacks();
    ASSERT_EQ(ASE_OK, asio->createBuffers(buffers, 1, 128, &callbacks));
    EXPECT_EQ(ASE_OK, asio->getLatencies(&input, &output));
    EXPECT_EQ(128 + 32, input);
    EXPECT_EQ(128 + 48, output);
}
