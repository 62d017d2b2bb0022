#include "driverlib/OxluneStatus.h"

#include "winsupport/WnText.h"

const char* StatusName(OxluneStatus status)
{
    switch (status) {
#define OXLUNE_STATUS_NAME(name, value) case value: return "OXLUNE_STATUS_" #name;
        OXLUNE_STATUS_LIST(OXLUNE_STATUS_NAME)
#undef OXLUNE_STATUS_NAME
    default:
        return "?\?\?";
    }
}

void FormatStatusText(wchar_t* buffer, uint32_t capacity, const wchar_t* sentence, OxluneStatus status)
{
    if (capacity == 0) {
        return;
    }
    FormatText(buffer, capacity, L"%s (Status=%hs).", sentence, StatusName(status));
    const wchar_t* explanation = nullptr;
    switch (status) {
    case OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE:
        explanation = L"The device is not connected to a USB high-speed port.";
        break;
    case OXLUNE_STATUS_NO_DEVICES:
        explanation = L"There are no devices connected.";
        break;
    case OXLUNE_STATUS_NO_STREAMING_DEVICE:
        explanation = L"There is no device selected for streaming.";
        break;
    default:
        break;
    }
    if (explanation != nullptr) {
        AppendText(buffer, L"\n", capacity);
        AppendText(buffer, explanation, capacity);
    }
}
