#include "asio/ComBase.h"

namespace {
volatile LONG g_liveObjects = 0;
LONG g_serverLocks = 0;
} // namespace

LONG ComLiveObjectCount()
{
    return g_liveObjects;
}

LONG ComServerLockCount()
{
    return g_serverLocks;
}

void ComChangeServerLock(bool lock)
{
    g_serverLocks += lock ? 1 : -1;
}

CBaseObject::CBaseObject()
{
    ::InterlockedIncrement(&g_liveObjects);
}

CBaseObject::~CBaseObject()
{
    ::InterlockedDecrement(&g_liveObjects);
}

CUnknown::CUnknown(IUnknown* outer)
    // Without an outer object our own face stands in: its first three slots have the
    // layout of IUnknown's.
    : owner(outer != nullptr ? outer : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)))
{
}

HRESULT STDMETHODCALLTYPE CUnknown::innerQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown)) {
        INonDelegatingUnknown* self = this;
        *ppv = self;
        self->innerAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::innerAddRef()
{
    const LONG count = ::InterlockedIncrement(&refCount);
    return count > 1 ? static_cast<ULONG>(count) : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::innerRelease()
{
    const LONG count = ::InterlockedDecrement(&refCount);
    if (count == 0) {
        // References taken and dropped while the object goes away must not destroy it twice.
        refCount = 1;
        delete this;
        return 0;
    }
    return count > 1 ? static_cast<ULONG>(count) : 1;
}
