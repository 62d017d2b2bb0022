#pragma once
// The channels of one stream format: owning lists of inputs and outputs, and the lists of
// channels that currently have a buffer, in the order createBuffers named them.
#include "asio/AsioChannel.h"

#include <cstddef>

class OxluneAsioClient;

class AsioChannelSet {
public:
    AsioChannelSet() = default;
    ~AsioChannelSet();
    AsioChannelSet(const AsioChannelSet&) = delete;
    AsioChannelSet& operator=(const AsioChannelSet&) = delete;

    AsioChannel* inputAt(long index) const;
    AsioChannel* outputAt(long index) const;
    // False when the channel could not be created.
    bool addChannel(const OxluneChannelInfo& descriptor, bool dummy);
    // A new zeroed block for n samples per half; puts the channel on its active list.
    bool allocateBuffer(AsioChannel* channel, uint32_t n);
    void releaseActive();
    void disableActive(OxluneAsioClient& client);
    void fillSilence();
    void clear();
    bool sameLayout(const AsioChannelSet& other) const;

    long inputCount() const { return static_cast<long>(inputs.size()); }
    long outputCount() const { return static_cast<long>(outputs.size()); }
    bool isActive(const AsioChannel* channel) const;

    // Both lists of the channel map may name channels of one direction, plus two dummies.
    static constexpr size_t kMaxChannels = 2 * kOxluneMaxChannels + 2;

    // A fixed-capacity list of channel pointers: nothing is allocated for it.
    struct List {
        AsioChannel* items[kMaxChannels] = {};
        size_t count = 0;
        bool push(AsioChannel* channel);
        size_t size() const { return count; }
        AsioChannel* operator[](size_t index) const { return items[index]; }
        void clear() { count = 0; }
    };
    const List& activeInputList() const { return activeInputs; }
    const List& activeOutputList() const { return activeOutputs; }

private:
    static void freeBlock(AsioChannel* channel);

    List inputs;
    List outputs;
    List activeInputs;
    List activeOutputs;
};
