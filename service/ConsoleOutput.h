#pragma once
#include <cstdint>

// Formats (wide printf rules, %s wide) and writes the text to standard output in the
// console's code page. Texts longer than 4095 characters are cut.
void PrintText(const wchar_t* format, ...);
