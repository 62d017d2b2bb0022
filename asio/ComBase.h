#pragma once
// A small in-process COM base: the live object count, the non-delegating IUnknown face
// that makes aggregation possible, and the reference count of an object.
#include <windows.h>
#include <unknwn.h>

// Process-wide counters of the server.
LONG ComLiveObjectCount();
LONG ComServerLockCount();
void ComChangeServerLock(bool lock);

// Counts the objects that keep the library loaded.
class CBaseObject {
public:
    CBaseObject();
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
};

// The object's own IUnknown, distinct from the owner's when the object is aggregated.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE innerQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE innerAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE innerRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    explicit CUnknown(IUnknown* outer);
    HRESULT STDMETHODCALLTYPE innerQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE innerAddRef() override;
    ULONG STDMETHODCALLTYPE innerRelease() override;
    ~CUnknown() override = default;

    IUnknown* getOwner() const { return owner; }
    LONG referenceCount() const { return refCount; }

protected:
    IUnknown* owner;
    volatile LONG refCount = 0;
};
