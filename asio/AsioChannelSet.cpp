#include "asio/AsioChannelSet.h"

#include "asio/OxluneAsioClient.h"

#include <windows.h>

#include <cstring>
#include <new>

bool AsioChannelSet::List::push(AsioChannel* channel)
{
    if (count >= kMaxChannels) {
        return false;
    }
    items[count++] = channel;
    return true;
}

AsioChannelSet::~AsioChannelSet()
{
    clear();
}

AsioChannel* AsioChannelSet::inputAt(long index) const
{
    return index >= 0 && static_cast<size_t>(index) < inputs.size() ? inputs[static_cast<size_t>(index)] : nullptr;
}

AsioChannel* AsioChannelSet::outputAt(long index) const
{
    return index >= 0 && static_cast<size_t>(index) < outputs.size() ? outputs[static_cast<size_t>(index)] : nullptr;
}

bool AsioChannelSet::addChannel(const OxluneChannelInfo& descriptor, bool dummy)
{
    List& list = descriptor.direction == OXLUNE_CHANNEL_DIRECTION_INPUT ? inputs : outputs;
    if (list.size() >= kMaxChannels) {
        return false;
    }
    AsioChannel* channel = new (std::nothrow) AsioChannel();
    if (channel == nullptr) {
        return false;
    }
    channel->descriptor = descriptor;
    // The name is ours to show: it always ends within its field.
    channel->descriptor.name[sizeof(channel->descriptor.name) / sizeof(wchar_t) - 1] = L'\0';
    channel->dummy = dummy;
    list.push(channel);
    return true;
}

void AsioChannelSet::freeBlock(AsioChannel* channel)
{
    if (channel->buffer != nullptr) {
        ::VirtualFree(channel->buffer, 0, MEM_RELEASE);
    }
    channel->buffer = nullptr;
    channel->bufferLength = 0;
}

bool AsioChannelSet::isActive(const AsioChannel* channel) const
{
    const List& list = channel->IsInput() ? activeInputs : activeOutputs;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == channel) {
            return true;
        }
    }
    return false;
}

bool AsioChannelSet::allocateBuffer(AsioChannel* channel, uint32_t n)
{
    freeBlock(channel);
    const uint64_t length = static_cast<uint64_t>(n) * (channel->IsDsd() ? 16u : 8u);
    List& active = channel->IsInput() ? activeInputs : activeOutputs;
    if (length == 0 || length > 0x7FFFFFFFu || active.size() >= kMaxChannels) {
        return false;
    }
    void* block = ::VirtualAlloc(nullptr, static_cast<SIZE_T>(length), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block == nullptr) {
        return false;
    }
    std::memset(block, 0, static_cast<size_t>(length));
    channel->buffer = static_cast<uint8_t*>(block);
    channel->bufferLength = static_cast<uint32_t>(length);
    active.push(channel);
    return true;
}

void AsioChannelSet::releaseActive()
{
    for (size_t i = 0; i < activeInputs.size(); ++i) {
        freeBlock(activeInputs[i]);
    }
    for (size_t i = 0; i < activeOutputs.size(); ++i) {
        freeBlock(activeOutputs[i]);
    }
    activeInputs.clear();
    activeOutputs.clear();
}

void AsioChannelSet::disableActive(OxluneAsioClient& client)
{
    for (const List* list : {&activeInputs, &activeOutputs}) {
        for (size_t i = 0; i < list->size(); ++i) {
            const AsioChannel* channel = (*list)[i];
            if (!channel->dummy) {
                client.DisableAsioChannel(channel->descriptor.key0, channel->descriptor.key1);
            }
        }
    }
}

void AsioChannelSet::fillSilence()
{
    for (const List* list : {&activeInputs, &activeOutputs}) {
        for (size_t i = 0; i < list->size(); ++i) {
            AsioChannel* channel = (*list)[i];
            if (channel->buffer != nullptr) {
                std::memset(channel->buffer, channel->IsDsd() ? 0x96 : 0x00, channel->bufferLength);
            }
        }
    }
}

void AsioChannelSet::clear()
{
    releaseActive();
    for (List* list : {&inputs, &outputs}) {
        for (size_t i = 0; i < list->size(); ++i) {
            freeBlock((*list)[i]);
            delete (*list)[i];
        }
        list->clear();
    }
}

bool AsioChannelSet::sameLayout(const AsioChannelSet& other) const
{
    if (inputs.size() != other.inputs.size() || outputs.size() != other.outputs.size()) {
        return false;
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i]->IsDsd() != other.inputs[i]->IsDsd()) {
            return false;
        }
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i]->IsDsd() != other.outputs[i]->IsDsd()) {
            return false;
        }
    }
    return true;
}
