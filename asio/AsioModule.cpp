// The library's entry point and its four COM exports.
#include "asio/AsioDriver.h"
#include "asio/AsioRegistration.h"
#include "asio/ClassFactory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        AsioSetModuleHandle(instance);
        for (size_t i = 0; i < ComClassCount(); ++i) {
            if (ComClassTable()[i].init != nullptr) {
                ComClassTable()[i].init(true);
            }
        }
    } else if (reason == DLL_PROCESS_DETACH) {
        for (size_t i = 0; i < ComClassCount(); ++i) {
            if (ComClassTable()[i].init != nullptr) {
                ComClassTable()[i].init(false);
            }
        }
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return ComGetClassObject(rclsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return ComCanUnloadNow();
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const uint32_t result = AsioRegisterServer(AsioModuleHandle());
    if (result != 0) {
        AsioShowRegistrationFailure(L"Register server failed !", result);
        return -1;
    }
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const uint32_t result = AsioUnregisterServer();
    if (result != 0) {
        AsioShowRegistrationFailure(L"Unregister server failed !", result);
        return -1;
    }
    return S_OK;
}
