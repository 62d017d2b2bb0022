// AsioDriver: the buffers shared with the host and the kernel driver, and the switch thread.
#include "asio/AsioDriver.h"

#include <mmsystem.h>

#include <cstring>


long AsioDriver::hostMessage(long selector, long value)
{
    // Hosts exist that leave callbacks empty; an empty one is never called.
    if (callbacks == nullptr || callbacks->asioMessage == nullptr) {
        return 0;
    }
    return callbacks->asioMessage(selector, value, nullptr, nullptr);
}

ASIOError AsioDriver::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long hostBufferSize,
                                    ASIOCallbacks* hostCallbacks)
{
    if (state != AsioStateInitialized) {
        return ASE_NotPresent;
    }
    const long n = dsdMode ? hostBufferSize / 64 : hostBufferSize;
    if (bufferInfos == nullptr || hostCallbacks == nullptr || n <= 0) {
        return ASE_InvalidParameter;
    }
    bufferSize = n;
    samplesPerHalf = static_cast<uint64_t>(n) * (dsdMode ? 64u : 1u);
    callbacks = hostCallbacks;
    AsioChannelSet& set = channelsInUse();
    set.releaseActive();

    IASIO* face = this;
    switchBlock = static_cast<AsioSwitchBlock*>(
        ::VirtualAlloc(nullptr, sizeof(AsioSwitchBlock), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (switchBlock == nullptr) {
        face->disposeBuffers();
        return ASE_NoMemory;
    }
    switchBlock->bufferIndex = 0;
    switchBlock->acknowledgeCount = 0;
    switchEvent.Close();
    if (switchEvent.Create(false, false) != 0) {
        face->disposeBuffers();
        return ASE_NoMemory;
    }
    AsioSwitchRegistration registration = {};
    registration.block = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(switchBlock));
    registration.event = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(switchEvent.Get()));
    registration.halfSamples = static_cast<uint32_t>(n);
    if (client.RegisterAsioSwitch(registration) != 0) {
        face->disposeBuffers();
        return ASE_NoMemory;
    }

    for (long i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& entry = bufferInfos[i];
        entry.buffers[0] = nullptr;
        entry.buffers[1] = nullptr;
        AsioChannel* channel = entry.isInput != 0 ? set.inputAt(entry.channelNum) : set.outputAt(entry.channelNum);
        // A channel named twice would lose the block already handed out for it.
        if (channel == nullptr || set.isActive(channel)) {
            face->disposeBuffers();
            return ASE_InvalidParameter;
        }
        if (!set.allocateBuffer(channel, static_cast<uint32_t>(n))) {
            face->disposeBuffers();
            return ASE_NoMemory;
        }
        const uint32_t half = channel->bufferLength / 2;
        if (!channel->dummy) {
            AsioChannelBufferInfo attach = {};
            attach.key0 = channel->descriptor.key0;
            attach.key1 = channel->descriptor.key1;
            attach.halfBytes = half;
            attach.sampleWidth = 4;
            attach.buffer = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(channel->buffer));
            // A channel the kernel driver does not serve would leave the host with
            // buffers that carry nothing: the call fails as a whole.
            if (client.EnableAsioChannel(attach.key0, attach.key1) != 0 || client.AttachAsioBuffer(attach) != 0) {
                face->disposeBuffers();
                return ASE_HWMalfunction;
            }
        }
        entry.buffers[0] = channel->buffer;
        entry.buffers[1] = channel->buffer + half;
    }
    state = AsioStatePrepared;

    // What the host supports is learned anew for every set of callbacks.
    timeInfoMode = hostMessage(kAsioSupportsTimeInfo, 0) > 0 && callbacks->bufferSwitchTimeInfo != nullptr;
    if (timeInfoMode) {
        EnterCriticalSection(&timeLock);
        std::memset(&asioTime, 0, sizeof(asioTime));
        asioTime.timeInfo.speed = 1.0;
        asioTime.timeInfo.sampleRate = static_cast<ASIOSampleRate>(streamInfo.currentRate);
        asioTime.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
        LeaveCriticalSection(&timeLock);
    }
    if (hostMessage(kAsioSelectorSupported, kAsioEngineVersion) != 0) {
        hostMessage(kAsioEngineVersion, 0);
    }
    hostSupportsResetRequest = hostMessage(kAsioSelectorSupported, kAsioResetRequest) > 0;
    hostSupportsBufferSizeChange = hostMessage(kAsioSelectorSupported, kAsioBufferSizeChange) > 0;
    hostMessage(kAsioSelectorSupported, kAsioResyncRequest);
    hostMessage(kAsioSelectorSupported, kAsioLatenciesChanged);
    return ASE_OK;
}

void AsioDriver::releaseBuffers()
{
    // Both sets: a format switch while buffers were out leaves them in the other set.
    pcmChannels.disableActive(client);
    dsdChannels.disableActive(client);
    pcmChannels.releaseActive();
    dsdChannels.releaseActive();
}

ASIOError AsioDriver::disposeBuffers()
{
    IASIO* face = this;
    face->stop();
    callbacks = nullptr;
    releaseBuffers();
    client.UnregisterAsioSwitch();
    switchEvent.Close();
    if (switchBlock != nullptr) {
        ::VirtualFree(switchBlock, 0, MEM_RELEASE);
        switchBlock = nullptr;
    }
    if (state > AsioStateInitialized) {
        state = AsioStateInitialized;
    }
    if (channelsStale && client.IsOpen()) {
        readChannels();
    }
    return ASE_OK;
}

ASIOError AsioDriver::start()
{
    if (state == AsioStateRunning) {
        return ASE_OK;
    }
    if (state != AsioStatePrepared || callbacks == nullptr) {
        return ASE_NotPresent;
    }
    if (!waitForRunningStream()) {
        return ASE_NotPresent;
    }
    if (client.FlushNotifications() != 0) {
        return ASE_NotPresent;
    }
    if (::timeBeginPeriod(timerPeriod) == TIMERR_NOERROR) {
        timerPeriodSet = true;
    }
    stopEvent.Reset();
    startedEvent.Reset();
    state = AsioStateRunning;
    if (switchThread.Start(&threadForwarder, 0, 0) != 0) {
        state = AsioStatePrepared;
        if (timerPeriodSet) {
            ::timeEndPeriod(timerPeriod);
            timerPeriodSet = false;
        }
        return ASE_NotPresent;
    }
    const HANDLE waits[2] = {startedEvent.Get(), switchThread.Get()};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return ASE_OK;
}

ASIOError AsioDriver::stop()
{
    stopEvent.Set();
    // Called from a callback, the thread ends once the callback returns: waiting for it
    // here would wait forever. A later stop or disposeBuffers collects it.
    if (switchThread.Get() == nullptr || switchThread.ThreadId() != ::GetCurrentThreadId()) {
        switchThread.Wait(INFINITE);
    }
    if (state > AsioStatePrepared) {
        state = AsioStatePrepared;
    }
    if (timerPeriodSet) {
        ::timeEndPeriod(timerPeriod);
        timerPeriodSet = false;
    }
    return ASE_OK;
}

ASIOError AsioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    EnterCriticalSection(&timeLock);
    const ASIOSamples position = asioTime.timeInfo.samplePosition;
    const ASIOTimeStamp stamp = asioTime.timeInfo.systemTime;
    LeaveCriticalSection(&timeLock);
    if (sPos != nullptr) {
        *sPos = position;
    }
    if (tStamp != nullptr) {
        *tStamp = stamp;
    }
    return ASE_OK;
}

uint32_t AsioDriver::switchThreadProc()
{
    HANDLE waits[3];
    DWORD count = 0;
    const DWORD switchSlot = count;
    waits[count++] = switchEvent.Get();
    DWORD notificationSlot = MAXDWORD;
    if (client.NotificationEvent() != nullptr) {
        notificationSlot = count;
        waits[count++] = client.NotificationEvent();
    }
    waits[count++] = stopEvent.Get();

    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    samplePosition = 0;
    systemTime = 0;
    channelsInUse().fillSilence();
    startedEvent.Set();

    // The host fills both output halves before the kernel driver starts reading them.
    switchBlock->bufferIndex = 0;
    doBufferSwitch();
    switchBlock->bufferIndex = 1;
    doBufferSwitch();
    if (client.StartAsioStreaming() != 0) {
        return 0;
    }
    for (;;) {
        const DWORD result = ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + switchSlot) {
            doBufferSwitch();
            ::InterlockedIncrement(&switchBlock->acknowledgeCount);
        } else if (result == WAIT_OBJECT_0 + notificationSlot) {
            processNotifications();
        } else {
            break;
        }
    }
    client.StopAsioStreaming();
    return 0;
}

void AsioDriver::doBufferSwitch()
{
    systemTime = static_cast<uint64_t>(::timeGetTime()) * 1000000u;
    const long index = static_cast<long>(switchBlock->bufferIndex & 1u);
    EnterCriticalSection(&timeLock);
    asioTime.timeInfo.samplePosition.hi = static_cast<unsigned long>(samplePosition >> 32);
    asioTime.timeInfo.samplePosition.lo = static_cast<unsigned long>(samplePosition & 0xFFFFFFFFu);
    asioTime.timeInfo.systemTime.hi = static_cast<unsigned long>(systemTime >> 32);
    asioTime.timeInfo.systemTime.lo = static_cast<unsigned long>(systemTime & 0xFFFFFFFFu);
    LeaveCriticalSection(&timeLock);
    const ASIOCallbacks* host = callbacks;
    if (host != nullptr) {
        if (timeInfoMode && host->bufferSwitchTimeInfo != nullptr) {
            host->bufferSwitchTimeInfo(&asioTime, index, ASIOTrue);
        } else if (host->bufferSwitch != nullptr) {
            host->bufferSwitch(index, ASIOTrue);
        }
    }
    samplePosition += samplesPerHalf;
}

void AsioDriver::processNotifications()
{
    OxluneMessage message;
    while (client.NextNotification(&message) == 0) {
        if (message.code == OXLUNE_MSG_STREAMING_CHANGED) {
            client.GetAsioStreamInfo(streamInfo);
            if (hostSupportsResetRequest) {
                hostMessage(kAsioResetRequest, 0);
            }
        } else if (message.code == OXLUNE_MSG_SAMPLE_RATE_CHANGED) {
            client.GetAsioStreamInfo(streamInfo);
            announceBufferChange();
        }
    }
}

void AsioDriver::announceBufferChange()
{
    if (hostSupportsBufferSizeChange) {
        hostMessage(kAsioBufferSizeChange, 0);
    } else if (hostSupportsResetRequest) {
        hostMessage(kAsioResetRequest, 0);
    }
}
