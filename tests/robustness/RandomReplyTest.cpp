// Randomized replies of the control device against the library's parsing: counts above
// the tables (8 devices, 96 channels, 12 rates, 12 formats), short byte counts, names
// without their terminator, message records whose length does not hold together. Every
// result the library hands on stays within what arrived and within its record.
#include "RobustSupport.h"

#include "driverlib/OxluneRequests.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

// What the last randomized reply returned, for the checks on the same thread.
struct LastReply {
    std::atomic<uint32_t> returned{0};
};

// A buffer with a guard area after the record: nothing may be written past the record.
template <class T> struct Guarded {
    T record;
    uint8_t guard[64];
    void Fill()
    {
        std::memset(&record, 0xCD, sizeof(record));
        std::memset(guard, 0xA5, sizeof(guard));
    }
    bool GuardIntact() const
    {
        for (uint8_t b : guard) {
            if (b != 0xA5) {
                return false;
            }
        }
        return true;
    }
};

class RandomReplyTest : public RobustSimFixture {
protected:
    void BeforeStart() override
    {
        m_random.seed(RobustSeed());
        for (uint32_t code : {OXLUNE_IOCTL_QUERY_DEVICES, OXLUNE_IOCTL_GET_INPUT_CHANNELS,
                              OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, OXLUNE_IOCTL_GET_SAMPLE_RATES,
                              OXLUNE_IOCTL_GET_CHANNEL_INFO, OXLUNE_IOCTL_GET_STREAMING_STATUS,
                              OXLUNE_IOCTL_GET_BUFFER_SIZES, OXLUNE_IOCTL_GET_ERROR_COUNTERS, OXLUNE_IOCTL_GET_POLICY,
                              OXLUNE_IOCTL_RECEIVE_MESSAGE, OXLUNE_IOCTL_RECEIVE_NOTIFICATION}) {
            sim.SetHandler(code, [this](SimConnection&, SimRequest& r) { return Randomize(r); });
        }
    }

    // Random bytes, a count word that is often far above any table, a random length
    // (often short), and now and then a failure status.
    uint32_t Randomize(SimRequest& r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_random() % 16 == 0) {
            m_last.returned = 0;
            return OXLUNE_STATUS_FAILED;
        }
        for (uint32_t i = 0; i < r.outCapacity; ++i) {
            r.out[i] = static_cast<uint8_t>(m_random());
        }
        if (r.outCapacity >= 8) {
            // The count sits in word 0 (lists) or word 1 (rates); a message's length in word 1.
            const uint32_t counts[] = {0, 1, 8, 9, 12, 13, 96, 97, 512, 513, 0xFFFFFFFFu, m_random()};
            const uint32_t word = counts[m_random() % 12];
            std::memcpy(r.out + 4 * (m_random() % 2), &word, sizeof(word));
            if (m_random() % 2 == 0) {
                const uint32_t header = kOxluneMessageHeaderSize;
                std::memcpy(r.out, &header, sizeof(header)); // a plausible message header
            }
        }
        uint32_t returned = r.outCapacity;
        switch (m_random() % 4) {
        case 0:
            returned = r.outCapacity == 0 ? 0 : m_random() % r.outCapacity; // short
            break;
        case 1:
            returned = r.outCapacity < 8 ? r.outCapacity : m_random() % 64; // very short
            break;
        default:
            break;
        }
        r.bytesReturned = returned;
        m_last.returned = returned;
        return 0;
    }

    uint32_t Returned() const { return m_last.returned.load(); }

    template <class Text> static bool Terminated(const Text& field)
    {
        for (auto c : field) {
            if (c == 0) {
                return true;
            }
        }
        return false;
    }

private:
    std::mutex m_mutex;
    std::mt19937 m_random;
    LastReply m_last;
};

TEST_F(RandomReplyTest, NothingIsHandedOnBeyondWhatArrivedOrBeyondItsTable)
{
    const uint32_t rounds = RobustScaled(800);
    OxluneDriver driver;
    ASSERT_EQ(0u, driver.Connect(name.c_str(), true, true));
    uint32_t failures = 0;
    auto fail = [&](const char* what, uint32_t round) {
        if (++failures <= 10) {
            ADD_FAILURE() << what << " in round " << round;
        }
    };
    for (uint32_t round = 0; round < rounds; ++round) {
        {
            Guarded<OxluneDeviceList> list;
            list.Fill();
            if (driver.QueryDevices(&list.record) == 0) {
                if (list.record.count > kOxluneMaxDevices ||
                    4 + list.record.count * sizeof(OxluneDeviceRecord) > Returned()) {
                    fail("device count beyond the table or the reply", round);
                }
                for (uint32_t i = 0; i < list.record.count && i < kOxluneMaxDevices; ++i) {
                    if (!Terminated(list.record.devices[i].serialNumber) || !Terminated(list.record.devices[i].name)) {
                        fail("device text without terminator", round);
                    }
                }
            }
            if (!list.GuardIntact()) {
                fail("device list written past its record", round);
            }
        }
        for (int direction = 0; direction < 2; ++direction) {
            Guarded<OxluneChannelList> list;
            list.Fill();
            const OxluneStatus status =
                direction == 0 ? driver.GetInputChannels(&list.record) : driver.GetOutputChannels(&list.record);
            if (status == 0 && (list.record.count > kOxluneMaxChannels ||
                                4 + list.record.count * sizeof(OxluneChannelKey) > Returned())) {
                fail("channel count beyond the table or the reply", round);
            }
            if (!list.GuardIntact()) {
                fail("channel list written past its record", round);
            }
        }
        {
            Guarded<OxluneSampleRates> rates;
            rates.Fill();
            if (driver.GetSampleRates(&rates.record) == 0 &&
                (rates.record.count > kOxluneMaxSampleRates || 8 + rates.record.count * 4 > Returned())) {
                fail("rate count beyond the table or the reply", round);
            }
            if (!rates.GuardIntact()) {
                fail("rates written past their record", round);
            }
        }
        {
            Guarded<OxluneChannelInfo> info;
            info.Fill();
            if (driver.GetChannelInfo(1, 2, &info.record) == 0 &&
                (Returned() < sizeof(OxluneChannelInfo) || !Terminated(info.record.name))) {
                fail("channel info short or without terminator", round);
            }
            Guarded<OxluneStreamingStatus> status;
            status.Fill();
            if (driver.GetStreamingStatus(&status.record) == 0 && Returned() < sizeof(OxluneStreamingStatus)) {
                fail("short streaming status taken as whole", round);
            }
            Guarded<OxluneBufferSizes> sizes;
            sizes.Fill();
            if (driver.GetBufferSizes(&sizes.record) == 0 && Returned() < sizeof(OxluneBufferSizes)) {
                fail("short buffer sizes taken as whole", round);
            }
            Guarded<OxluneErrorCounters> counters;
            counters.Fill();
            if (driver.GetErrorCounters(&counters.record) == 0 && Returned() < sizeof(OxluneErrorCounters)) {
                fail("short error counters taken as whole", round);
            }
            uint32_t policy = 0;
            if (driver.GetPolicy(&policy) == 0 && Returned() < sizeof(policy)) {
                fail("short policy taken as whole", round);
            }
            if (!info.GuardIntact() || !status.GuardIntact() || !sizes.GuardIntact() || !counters.GuardIntact()) {
                fail("record written past its end", round);
            }
        }
        for (int queue = 0; queue < 2; ++queue) {
            Guarded<OxluneMessage> message;
            message.Fill();
            const OxluneStatus status =
                queue == 0 ? driver.ReceiveMessage(&message.record) : driver.ReceiveNotification(&message.record);
            if (status == 0 && message.record.type != OXLUNE_MSG_TYPE_NONE &&
                (message.record.length > kOxluneMessageMaxPayload ||
                 kOxluneMessageHeaderSize + message.record.length > Returned())) {
                fail("message handed on beyond what arrived", round);
            }
            if (!message.GuardIntact()) {
                fail("message written past its record", round);
            }
        }
        {
            bool changed = false;
            driver.RefreshDevices(&changed);
            if (driver.GetDeviceCount() > kOxluneMaxDevices) {
                fail("more devices than the table", round);
            }
        }
    }
    EXPECT_EQ(0u, failures);
}

} // namespace
