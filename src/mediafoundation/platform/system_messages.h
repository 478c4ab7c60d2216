// The system's message table: FormatMessageA and LocalFree of the portable
// layer, for the texts of HRESULT codes.
#pragma once

#include <cstdarg>

#include "mediafoundation/platform/com_types.h"

using LPSTR = char*;
using LPCVOID = const void*;
using HLOCAL = void*;

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

inline constexpr WORD LANG_NEUTRAL = 0x00;
inline constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD MAKELANGID(WORD primary, WORD sub) { return static_cast<WORD>(sub << 10 | primary); }

// Only the system's table is searched (FORMAT_MESSAGE_FROM_SYSTEM) and only
// into an allocated buffer (FORMAT_MESSAGE_ALLOCATE_BUFFER: lpBuffer is then
// the address of a char*, freed with LocalFree). The text ends with "\r\n", as
// the system's texts do. Returns its length, or 0 when the table has no text.
extern "C" DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                va_list* Arguments);
// Frees what FormatMessageA allocated; returns null.
extern "C" HLOCAL LocalFree(HLOCAL hMem);
