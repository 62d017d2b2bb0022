#include "asio/ClassFactory.h"

#include "asio/AsioDriver.h"

#include <new>

namespace {
const ComClassEntry g_classes[] = {
    {&CLSID_KuvoAsio, &AsioDriver::CreateInstance, nullptr},
};
} // namespace

const ComClassEntry* ComClassTable()
{
    return g_classes;
}

size_t ComClassCount()
{
    return sizeof(g_classes) / sizeof(g_classes[0]);
}

const ComClassEntry* ComFindClass(REFCLSID clsid)
{
    for (const ComClassEntry& entry : g_classes) {
        if (IsEqualCLSID(clsid, *entry.clsid)) {
            return &entry;
        }
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef()
{
    return static_cast<ULONG>(++m_refCount);
}

ULONG STDMETHODCALLTYPE CClassFactory::Release()
{
    if (--m_refCount <= 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(m_refCount);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return E_NOINTERFACE;
    }
    HRESULT result = S_OK;
    CUnknown* object = m_entry->create(outer, &result);
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(result)) {
        delete object;
        return result;
    }
    // An object nobody took goes away again with the last release.
    object->innerAddRef();
    result = object->innerQueryInterface(riid, ppv);
    object->innerRelease();
    return result;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock)
{
    ComChangeServerLock(lock != FALSE);
    return S_OK;
}

HRESULT ComGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    const ComClassEntry* entry = ComFindClass(clsid);
    if (entry == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    CClassFactory* factory = new (std::nothrow) CClassFactory(entry);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    *ppv = static_cast<IClassFactory*>(factory);
    factory->AddRef();
    return S_OK;
}

HRESULT ComCanUnloadNow()
{
    return ComServerLockCount() > 0 || ComLiveObjectCount() != 0 ? S_FALSE : S_OK;
}
