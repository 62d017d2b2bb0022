#include "driverlib/OxluneApiContext.h"

#include "driverlib/OxluneIoctl.h"

OxluneApiContext::OxluneApiContext()
{
    ::InitializeCriticalSection(&m_lock);
}

OxluneApiContext::~OxluneApiContext()
{
    Close();
    m_completionEvent.Close();
    ::DeleteCriticalSection(&m_lock);
}

OxluneStatus OxluneApiContext::Open(const wchar_t* name)
{
    OxluneLockGuard guard(*this);
    if (IsOpen()) {
        return OXLUNE_STATUS_REJECTED;
    }
    if (m_completionEvent.Get() == nullptr) {
        const uint32_t error = m_completionEvent.Create(true, false);
        if (error != 0) {
            return error;
        }
    }
    const bool simulator = m_kind == OxluneChannelKind::Simulator ||
                           (m_kind == OxluneChannelKind::Automatic && OxluneSimulatorEnabled());
    OxluneControlChannel* channel = simulator ? static_cast<OxluneControlChannel*>(&m_simulatorChannel)
                                              : static_cast<OxluneControlChannel*>(&m_deviceChannel);
    const uint32_t error = channel->Open(name);
    if (error != 0) {
        Close();
        return error;
    }
    m_channel.store(channel, std::memory_order_release);

    OxluneVersionInfo info{};
    const OxluneStatus status = GetVersionInfo(&info);
    if (status != 0) {
        Close();
        return status;
    }
    if (info.interfaceMajor != OXLUNE_INTERFACE_VERSION_MAJOR) {
        Close();
        return OXLUNE_STATUS_VERSION_MISMATCH;
    }
    return 0;
}

void OxluneApiContext::Close()
{
    OxluneLockGuard guard(*this);
    OxluneControlChannel* channel = m_channel.exchange(nullptr, std::memory_order_acq_rel);
    if (channel != nullptr) {
        channel->Close();
    }
    m_completionEvent.Close();
}

OxluneStatus OxluneApiContext::IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer,
                                         uint32_t outSize, uint32_t* bytesReturned)
{
    OxluneLockGuard guard(*this);
    OxluneControlChannel* channel = m_channel.load(std::memory_order_relaxed);
    if (channel == nullptr) {
        return OXLUNE_STATUS_NOT_OPENED;
    }
    ::ResetEvent(m_completionEvent.Get());
    uint32_t returned = 0;
    const OxluneStatus status =
        channel->IoControl(code, inBuffer, inSize, outBuffer, outSize, &returned, m_completionEvent.Get());
    if (bytesReturned != nullptr) {
        *bytesReturned = returned;
    }
    return status;
}

OxluneStatus OxluneApiContext::GetVersionInfo(OxluneVersionInfo* info)
{
    return IoControl(OXLUNE_IOCTL_GET_VERSION_INFO, nullptr, 0, info, sizeof(*info), nullptr);
}
