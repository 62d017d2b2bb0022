#include "driverlib/OxluneSimulatorChannel.h"

#include "driverlib/OxluneSimulatorWire.h"
#include "driverlib/OxluneStatus.h"
#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnText.h"

#include <cstring>
#include <new>

bool OxluneSimulatorEnabled()
{
    WnRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"Software\\BRAKMOOR\\kuvo", KEY_QUERY_VALUE) != 0) {
        return false;
    }
    uint32_t value = 0;
    return key.ReadDword(L"DeviceSimulator", &value) == 0 && value == 1;
}

namespace {
constexpr uint32_t kBufferSize = sizeof(OxluneWireRequest) + kOxluneWireMaxData;
}

uint32_t OxluneSimulatorChannel::Open(const wchar_t* name)
{
    wchar_t path[300];
    FormatText(path, 300, L"\\\\.\\pipe\\%s", name);
    for (int attempt = 0;; ++attempt) {
        m_pipe = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                               nullptr);
        if (m_pipe != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = ::GetLastError();
        // Every instance busy: the simulator is about to offer the next one.
        if (error != ERROR_PIPE_BUSY || attempt == 50) {
            return error;
        }
        ::WaitNamedPipeW(path, 200);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!::SetNamedPipeHandleState(m_pipe, &mode, nullptr, nullptr)) {
        const DWORD error = ::GetLastError();
        Close();
        return error;
    }
    m_buffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
    if (!m_buffer) {
        Close();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

uint32_t OxluneSimulatorChannel::Transfer(bool write, void* buffer, uint32_t size, uint32_t* transferred,
                                          HANDLE completionEvent)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = completionEvent;
    DWORD done = 0;
    const BOOL ok = write ? ::WriteFile(m_pipe, buffer, size, &done, &overlapped)
                          : ::ReadFile(m_pipe, buffer, size, &done, &overlapped);
    uint32_t status = 0;
    if (!ok) {
        status = ::GetLastError();
        if (status == ERROR_IO_PENDING) {
            status = ::GetOverlappedResult(m_pipe, &overlapped, &done, TRUE) ? 0 : ::GetLastError();
        }
    }
    *transferred = done;
    return status;
}

uint32_t OxluneSimulatorChannel::IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer,
                                           uint32_t outSize, uint32_t* bytesReturned, HANDLE completionEvent)
{
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    if (inSize > kOxluneWireMaxData || (inSize != 0 && inBuffer == nullptr)) {
        return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
    }
    if (outSize > kOxluneWireMaxData || (outSize != 0 && outBuffer == nullptr)) {
        return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
    }
    OxluneWireRequest header{code, inSize, outSize, 0};
    std::memcpy(m_buffer.get(), &header, sizeof(header));
    if (inSize != 0) {
        std::memcpy(m_buffer.get() + sizeof(header), inBuffer, inSize);
    }
    uint32_t transferred = 0;
    uint32_t status = Transfer(true, m_buffer.get(), sizeof(header) + inSize, &transferred, completionEvent);
    if (status != 0) {
        return status;
    }
    // The completion; a request that the simulator pends simply arrives later.
    status = Transfer(false, m_buffer.get(), kBufferSize, &transferred, completionEvent);
    if (status == ERROR_MORE_DATA) {
        return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
    }
    if (status != 0) {
        return status;
    }
    OxluneWireReply reply{};
    if (transferred < sizeof(reply)) {
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    std::memcpy(&reply, m_buffer.get(), sizeof(reply));
    // Never trust the other side's count: it must match what arrived and fit the caller.
    if (reply.bytesReturned != transferred - sizeof(reply) || reply.bytesReturned > outSize) {
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    if (reply.bytesReturned != 0) {
        std::memcpy(outBuffer, m_buffer.get() + sizeof(reply), reply.bytesReturned);
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = reply.bytesReturned;
    }
    return reply.status;
}

void OxluneSimulatorChannel::Close()
{
    if (m_pipe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_pipe);
        m_pipe = INVALID_HANDLE_VALUE;
    }
    m_buffer.reset();
}
