#include "service/DeviceNotificationList.h"

#include <dbt.h>

#include <cstddef>
#include <new>

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) == 12);

DeviceNotificationList::DeviceNotificationList()
{
    ::InitializeCriticalSection(&m_lock);
    m_sentinel.previous = m_sentinel.next = &m_sentinel;
    m_sentinel.interfaceClass = GUID{};
    m_sentinel.handle = nullptr;
}

DeviceNotificationList::~DeviceNotificationList()
{
    RemoveAll();
    ::DeleteCriticalSection(&m_lock);
}

uint32_t DeviceNotificationList::AddRegistration(HANDLE recipient, const GUID& interfaceClass, uint32_t flags)
{
    Node* node = new (std::nothrow) Node{nullptr, nullptr, interfaceClass, nullptr};
    if (node == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    node->handle = ::RegisterDeviceNotificationW(recipient, &filter, flags);
    if (node->handle == nullptr) {
        const DWORD error = ::GetLastError();
        delete node;
        return error != 0 ? error : ERROR_INVALID_FUNCTION;
    }
    ::EnterCriticalSection(&m_lock);
    node->previous = m_sentinel.previous;
    node->next = &m_sentinel;
    m_sentinel.previous->next = node;
    m_sentinel.previous = node;
    ::LeaveCriticalSection(&m_lock);
    return 0;
}

void DeviceNotificationList::RemoveAll()
{
    ::EnterCriticalSection(&m_lock);
    while (m_sentinel.next != &m_sentinel) {
        Node* node = m_sentinel.next;
        m_sentinel.next = node->next;
        node->next->previous = &m_sentinel;
        if (node->handle != nullptr) {
            ::UnregisterDeviceNotification(node->handle);
            node->handle = nullptr;
        }
        delete node;
    }
    ::LeaveCriticalSection(&m_lock);
}

uint32_t DeviceNotificationList::Count()
{
    ::EnterCriticalSection(&m_lock);
    uint32_t count = 0;
    for (const Node* node = m_sentinel.next; node != &m_sentinel; node = node->next) {
        ++count;
    }
    ::LeaveCriticalSection(&m_lock);
    return count;
}
