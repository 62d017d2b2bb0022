// The COM shell in-process: class factory, aggregation, reference counts, unloading.
#include "asio/AsioDriver.h"
#include "asio/ClassFactory.h"

#include <gtest/gtest.h>

namespace {
// A minimal outer object for aggregation.
struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};
} // namespace

TEST(AsioCom, ClassObjectForKnownClassesOnly)
{
    void* object = reinterpret_cast<void*>(1);
    const CLSID other = {0x12345678, 0x1, 0x2, {0, 1, 2, 3, 4, 5, 6, 7}};
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ComGetClassObject(other, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_NOINTERFACE, ComGetClassObject(CLSID_KuvoAsio, CLSID_KuvoAsio, &object));
    ASSERT_EQ(S_OK, ComGetClassObject(CLSID_KuvoAsio, IID_IClassFactory, &object));
    auto* factory = static_cast<CClassFactory*>(static_cast<IClassFactory*>(object));
    EXPECT_EQ(1, factory->referenceCount());
    EXPECT_EQ(2u, factory->AddRef());
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(0u, factory->Release());
}

TEST(AsioCom, CreationFacesAndAggregation)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, ComGetClassObject(CLSID_KuvoAsio, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    Outer outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, CLSID_KuvoAsio, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, CLSID_KuvoAsio, nullptr));
    EXPECT_EQ(0, ComLiveObjectCount()) << "nothing left behind";

    // With the driver class id as interface id: the IASIO face, one reference.
    IASIO* asio = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, CLSID_KuvoAsio, reinterpret_cast<void**>(&asio)));
    EXPECT_EQ(2u, asio->AddRef());
    EXPECT_EQ(1u, asio->Release());
    EXPECT_EQ(S_FALSE, ComCanUnloadNow()) << "an object lives";
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, asio->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_NE(static_cast<void*>(asio), static_cast<void*>(unknown)) << "the non-delegating face";
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(E_NOINTERFACE, asio->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(0u, asio->Release());
    EXPECT_EQ(S_OK, ComCanUnloadNow()) << "after the last release";

    // With IID_IUnknown: the non-delegating face.
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(S_OK, unknown->QueryInterface(CLSID_KuvoAsio, reinterpret_cast<void**>(&asio)));
    EXPECT_EQ(1u, asio->Release());
    EXPECT_EQ(0u, unknown->Release());

    // Aggregated: the outer object gets the inner unknown; the IASIO face delegates to it.
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    auto* inner = reinterpret_cast<INonDelegatingUnknown*>(unknown);
    ASSERT_EQ(S_OK, inner->innerQueryInterface(CLSID_KuvoAsio, reinterpret_cast<void**>(&asio)));
    EXPECT_EQ(2u, asio->AddRef()) << "forwarded to the outer object";
    EXPECT_EQ(1u, asio->Release());
    EXPECT_EQ(0u, inner->innerRelease()) << "the face's references belong to the outer object";
    EXPECT_EQ(S_OK, ComCanUnloadNow());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, ComCanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, ComCanUnloadNow());
    factory->Release();
}

TEST(AsioCom, ControlPanelStartsNothingForAPathThatDoesNotFit)
{
    wchar_t commandLine[260];
    EXPECT_TRUE(AsioCustom::FormatCommandLine(L"C:\\Program Files\\Kuvo\\", commandLine, 260));
    EXPECT_STREQ(L"\"C:\\Program Files\\Kuvo\\oxlunecpl.exe\" -asio", commandLine);
    std::wstring longDirectory = L"C:\\";
    while (longDirectory.size() < 250) {
        longDirectory += L"abcdefgh\\";
    }
    EXPECT_FALSE(AsioCustom::FormatCommandLine(longDirectory.c_str(), commandLine, 260));
    EXPECT_STREQ(L"", commandLine);
    AsioCustom custom;
    EXPECT_EQ(ASE_OK, custom.launchControlPanel(nullptr, longDirectory.c_str()));
    // No control panel beside this program: nothing starts, still ASE_OK.
    AsioDriver* driver = new AsioDriver(nullptr);
    driver->innerAddRef();
    EXPECT_EQ(ASE_OK, static_cast<IASIO*>(driver)->controlPanel());
    driver->replaceCustom(nullptr);
    EXPECT_EQ(ASE_NotPresent, static_cast<IASIO*>(driver)->controlPanel());
    driver->innerRelease();
}
