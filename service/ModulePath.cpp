#include "service/ModulePath.h"

#include <windows.h>

#include <cstdlib>

uint32_t ModulePath::Fill()
{
    path[0] = drive[0] = directory[0] = fileName[0] = extension[0] = L'\0';
    ::SetLastError(0);
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 260);
    if (length == 0) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_INVALID_FUNCTION;
    }
    if (length >= 260) {
        path[0] = L'\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (::_wsplitpath_s(path, drive, 3, directory, 256, fileName, 256, extension, 256) != 0) {
        drive[0] = directory[0] = fileName[0] = extension[0] = L'\0';
    }
    return 0;
}
