#pragma once
#include <cstdint>

// The full path of the running executable and its parts.
struct ModulePath {
    wchar_t path[260] = {};
    wchar_t drive[3] = {};
    wchar_t directory[256] = {};
    wchar_t fileName[256] = {};
    wchar_t extension[256] = {};

    // 0, or the error of GetModuleFileNameW. A path that does not fit is an error
    // (122) rather than a silently cut path.
    uint32_t Fill();
};
