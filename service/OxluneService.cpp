#include "service/OxluneService.h"

#include "service/ConsoleOutput.h"
#include "service/CustomServer.h"
#include "service/ModulePath.h"
#include "service/WnEventLogWriter.h"
#include "winsupport/WnText.h"

#include <dbt.h>

#include <new>

namespace {
OxluneService* g_global = nullptr;

void FormatInfo(wchar_t* buffer, uint32_t capacity, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    WnEventLogWriter::FormatInfoText(buffer, capacity, format, arguments);
    va_end(arguments);
}
} // namespace

OxluneService::OxluneService()
{
    m_server = new (std::nothrow) CustomServer();
    m_deviceChangeEvent.Create(false, false);
    if (g_global == nullptr) {
        g_global = this;
    }
}

OxluneService::~OxluneService()
{
    if (g_global == this) {
        g_global = nullptr;
    }
    delete m_server;
    m_server = nullptr;
}

OxluneService* OxluneService::Global()
{
    return g_global;
}

const wchar_t* OxluneService::GetServiceName()
{
    return m_server != nullptr ? m_server->GetServiceName() : L"kuvosvc";
}

const wchar_t* OxluneService::GetDisplayName()
{
    return m_server != nullptr ? m_server->GetDisplayName() : L"Kuvo control";
}

const wchar_t* OxluneService::GetDescription()
{
    return m_server != nullptr ? m_server->GetDescription() : L"Kuvo control service";
}

LPSERVICE_MAIN_FUNCTIONW OxluneService::GetServiceMain()
{
    return ServiceMain;
}

void WINAPI OxluneService::ServiceMain(DWORD argumentCount, wchar_t** arguments)
{
    if (g_global != nullptr) {
        g_global->RunService(argumentCount, arguments);
    }
}

void OxluneService::OnPnPEvent(uint32_t eventType, void*)
{
    if (eventType == DBT_DEVICEARRIVAL) {
        m_deviceChangeEvent.Set();
    }
}

void OxluneService::FormatStartText(wchar_t* buffer, uint32_t capacity, const wchar_t* serviceName,
                                    const wchar_t* exePath)
{
    FormatInfo(buffer, capacity, kStartEventFormat, serviceName, exePath, kServiceVersionMajor, kServiceVersionMinor,
               kServiceVersionBuild, 2u, 0u);
}

void OxluneService::FormatInstanceName(wchar_t* buffer, uint32_t capacity)
{
    CopyText(buffer, GetServiceName(), capacity);
    AppendText(buffer, L"-", capacity);
    AppendText(buffer, m_server != nullptr ? m_server->GetControlDeviceName() : L"", capacity);
}

uint32_t OxluneService::ClaimSingleInstance()
{
    wchar_t name[500];
    FormatInstanceName(name, 500);
    m_instance.Close();
    return m_instance.Create(nullptr, true, name);
}

void OxluneService::ReleaseSingleInstance()
{
    m_instance.Close();
}

void OxluneService::RunServer()
{
    if (m_server != nullptr) {
        m_server->Run(m_stopEvent.Get(), m_deviceChangeEvent.Get());
    }
}

void OxluneService::RunService(DWORD, wchar_t**)
{
    if (!RegisterControlHandler()) {
        return;
    }
    ReportStatus(SERVICE_START_PENDING, 3000, 0, 0, 0);
    WnEventLogWriter writer;
    uint32_t error = writer.Open(GetServiceName());
    if (error != 0) {
        ReportStatus(SERVICE_STOPPED, 0, 0, error, error);
        return;
    }
    ModulePath module;
    error = module.Fill();
    if (error != 0) {
        writer.ReportError(kModuleNameErrorText);
    } else {
        wchar_t text[kEventTextCapacity];
        FormatStartText(text, kEventTextCapacity, GetServiceName(), module.path);
        writer.ReportInfo(L"%s", text);
        error = ClaimSingleInstance();
        if (error != 0) {
            writer.ReportError(kAnotherInstanceErrorText);
        } else {
            GUID interfaceClass{};
            if (m_server != nullptr) {
                m_server->GetInterfaceGuid(&interfaceClass);
            }
            error = RegisterDeviceInterface(interfaceClass);
            if (error != 0) {
                writer.ReportError(kPnPRegistrationErrorText);
            }
        }
    }
    if (error != 0) {
        ReportStatus(SERVICE_STOPPED, 0, 0, error, error);
        writer.Release();
        return;
    }
    ReportStatus(SERVICE_RUNNING, 0, 0, 0, 0);
    RunServer();
    ReportStatus(SERVICE_STOPPED, 0, 0, 0, 0);
    ReleaseSingleInstance();
    writer.ReportInfo(kStopEventFormat, GetServiceName());
    writer.Release();
}

uint32_t OxluneService::RunConsole()
{
    if (ClaimSingleInstance() != 0) {
        PrintText(L"Cannot start, another instance is already running.\n");
        return 1;
    }
    GUID interfaceClass{};
    if (m_server != nullptr) {
        m_server->GetInterfaceGuid(&interfaceClass);
    }
    if (RegisterConsoleDeviceInterface(interfaceClass) != 0) {
        PrintText(L"Failed to register PnP notifications.\n");
        ReleaseSingleInstance();
        return 1;
    }
    RunServer();
    ReleaseSingleInstance();
    return 0;
}
