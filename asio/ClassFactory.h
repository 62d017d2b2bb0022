#pragma once
// The class factory of the library and its table of creatable classes.
#include "asio/ComBase.h"

using ComCreateFunction = CUnknown* (*)(IUnknown* outer, HRESULT* result);
using ComInitRoutine = void (*)(bool loading);

struct ComClassEntry {
    const CLSID* clsid;
    ComCreateFunction create;
    ComInitRoutine init; // optional
};

// The table: exactly one entry, the driver.
const ComClassEntry* ComClassTable();
size_t ComClassCount();
const ComClassEntry* ComFindClass(REFCLSID clsid);

class CClassFactory : public IClassFactory {
public:
    explicit CClassFactory(const ComClassEntry* entry) : m_entry(entry) {}
    virtual ~CClassFactory() = default;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    LONG referenceCount() const { return m_refCount; }

private:
    const ComClassEntry* m_entry;
    LONG m_refCount = 0;
};

// The body of DllGetClassObject.
HRESULT ComGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// The body of DllCanUnloadNow.
HRESULT ComCanUnloadNow();
