#include "driverlib/OxluneDeviceChannel.h"

#include "winsupport/WnText.h"

uint32_t OxluneDeviceChannel::Open(const wchar_t* name)
{
    wchar_t path[300];
    FormatText(path, 300, L"\\\\.\\%s", name); // a longer path is cut to fit
    m_handle = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    return 0;
}

uint32_t OxluneDeviceChannel::IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer,
                                        uint32_t outSize, uint32_t* bytesReturned, HANDLE completionEvent)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = completionEvent;
    DWORD returned = 0;
    uint32_t status = 0;
    if (!::DeviceIoControl(m_handle, code, const_cast<void*>(inBuffer), inSize, outBuffer, outSize, &returned,
                           &overlapped)) {
        status = ::GetLastError();
        if (status == ERROR_IO_PENDING) {
            status = ::GetOverlappedResult(m_handle, &overlapped, &returned, TRUE) ? 0 : ::GetLastError();
        }
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = returned;
    }
    return status;
}

void OxluneDeviceChannel::Close()
{
    if (m_handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}
