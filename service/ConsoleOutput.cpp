#include "service/ConsoleOutput.h"

#include "winsupport/WnText.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void PrintText(const wchar_t* format, ...)
{
    wchar_t text[4096];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(text, 4096, format, arguments);
    va_end(arguments);
    UINT codePage = ::GetConsoleOutputCP();
    if (codePage == 0) {
        codePage = CP_ACP;
    }
    char narrow[4096 * 3];
    const int length = ::WideCharToMultiByte(codePage, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    if (length > 1) {
        std::fwrite(narrow, 1, static_cast<size_t>(length - 1), stdout);
        std::fflush(stdout);
    }
}
