#include "service/WnPnPNotificator.h"

#include "winsupport/WnText.h"

WnPnPNotificator::WnPnPNotificator()
{
    ::InitializeCriticalSection(&m_lock);
}

WnPnPNotificator::~WnPnPNotificator()
{
    Stop(INFINITE);
    ::DeleteCriticalSection(&m_lock);
}

uint32_t WnPnPNotificator::Start(WnPnPNotificatorCallbackInterface* callback, HINSTANCE module)
{
    if (callback == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (module == nullptr) {
        module = ::GetModuleHandleW(nullptr);
    }
    ::EnterCriticalSection(&m_lock);
    if (m_running) {
        ::LeaveCriticalSection(&m_lock);
        return ERROR_ALREADY_INITIALIZED;
    }
    m_module = module;
    m_callback = callback;
    m_creationResult = 0;
    uint32_t error = m_ready.Create(true, false);
    if (error == 0) {
        error = m_thread.Start(this, 0, 0);
    }
    if (error != 0) {
        m_callback = nullptr;
        ::LeaveCriticalSection(&m_lock);
        return error;
    }
    if (::WaitForSingleObject(m_ready.Get(), 10000) != WAIT_OBJECT_0) {
        // The thread is still on its way: count it as running so that Stop and the
        // destructor close its window and wait for it instead of leaving it behind.
        m_running = true;
        ::LeaveCriticalSection(&m_lock);
        return ERROR_TIMEOUT;
    }
    if (m_creationResult != 0) {
        const uint32_t result = m_creationResult;
        m_thread.Wait(INFINITE);
        m_callback = nullptr;
        ::LeaveCriticalSection(&m_lock);
        return result;
    }
    m_running = true;
    ::LeaveCriticalSection(&m_lock);
    return 0;
}

uint32_t WnPnPNotificator::Stop(uint32_t timeoutMs)
{
    ::EnterCriticalSection(&m_lock);
    uint32_t result = 0;
    if (m_running) {
        if (m_window != nullptr) {
            ::PostMessageW(m_window, WM_CLOSE, 0, 0);
        } else {
            ::PostThreadMessageW(m_thread.ThreadId(), WM_QUIT, 0, 0);
        }
        result = m_thread.Wait(timeoutMs);
        if (result == 0) {
            m_running = false;
            m_module = nullptr;
            m_callback = nullptr;
        }
    }
    m_registrations.RemoveAll();
    ::LeaveCriticalSection(&m_lock);
    return result;
}

uint32_t WnPnPNotificator::RegisterInterface(const GUID& interfaceClass)
{
    ::EnterCriticalSection(&m_lock);
    if (!m_running || m_window == nullptr) {
        ::LeaveCriticalSection(&m_lock);
        return ERROR_INVALID_DATA;
    }
    const uint32_t result = m_registrations.AddRegistration(m_window, interfaceClass, DEVICE_NOTIFY_WINDOW_HANDLE);
    ::LeaveCriticalSection(&m_lock);
    return result;
}

uint32_t WnPnPNotificator::Run()
{
    const DWORD processId = ::GetCurrentProcessId();
    const DWORD threadId = ::GetCurrentThreadId();
    wchar_t className[80];
    wchar_t windowName[80];
    FormatText(className, 80, L"PnPNotificatorWndCls_%u_%u", static_cast<unsigned>(processId),
               static_cast<unsigned>(threadId));
    FormatText(windowName, 80, L"PnPNotificator_HiddenWindow_%u_%u", static_cast<unsigned>(processId),
               static_cast<unsigned>(threadId));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = StaticWindowProcedure;
    windowClass.hInstance = m_module;
    windowClass.lpszClassName = className;
    uint32_t result = 0;
    if (::RegisterClassExW(&windowClass) == 0) {
        result = ::GetLastError();
        if (result == 0) {
            result = ERROR_CLASS_DOES_NOT_EXIST;
        }
    } else {
        HWND window = ::CreateWindowExW(0, className, windowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, m_module, nullptr);
        if (window == nullptr) {
            result = ::GetLastError();
            if (result == 0) {
                result = ERROR_INVALID_WINDOW_HANDLE;
            }
            ::UnregisterClassW(className, m_module);
        } else {
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            m_window = window;
        }
    }
    m_creationResult = result;
    m_ready.Set();
    if (result != 0) {
        return result;
    }
    MSG message;
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    m_window = nullptr;
    ::UnregisterClassW(className, m_module);
    return 0;
}

LRESULT CALLBACK WnPnPNotificator::StaticWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<WnPnPNotificator*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        return self->WindowProcedure(window, message, wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT WnPnPNotificator::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_DEVICECHANGE:
        // Only arrival and removal carry a broadcast header; lParam is not touched otherwise.
        if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam != 0) {
            auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
            WnPnPNotificatorCallbackInterface* callback = m_callback;
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && callback != nullptr) {
                callback->OnDeviceChange(static_cast<uint32_t>(wParam), header);
            }
        }
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
