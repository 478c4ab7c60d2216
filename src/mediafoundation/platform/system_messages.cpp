// The system's texts for the HRESULT codes this layer returns. Media
// Foundation's own codes (0xC00Dxxxx) are not in the system's table, so they
// have no text here either and callers fall back to the code itself.
#include "mediafoundation/platform/system_messages.h"

#include <cstdlib>
#include <cstring>

namespace {

struct SystemMessage {
  DWORD code;
  const char* text;
};

constexpr SystemMessage kMessages[] = {
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80010106, "Cannot change thread mode after it is set."},
    {0x80040110, "Class does not support aggregation (or class object is remote)"},
    {0x80040111, "ClassFactory cannot supply requested class"},
    {0x80040154, "Class not registered"},
    {0x800401F0, "CoInitialize has not been called."},
    {0x80070002, "The system cannot find the file specified."},
    {0x80070003, "The system cannot find the path specified."},
    {0x80070005, "Access is denied."},
    {0x8007000E, "Not enough memory resources are available to complete this operation."},
    {0x80070013, "The media is write protected."},
    {0x8007001F, "A device attached to the system is not functioning."},
    {0x80070020, "The process cannot access the file because it is being used by another process."},
    {0x80070057, "The parameter is incorrect."},
    {0x80070070, "There is not enough space on the disk."},
    {0x8007007A, "The data area passed to a system call is too small."},
    {0x8007007B, "The filename, directory name, or volume label syntax is incorrect."},
    {0x800700CE, "The filename or extension is too long."},
    {0x80070490, "Element not found."},
    {0x80070492, "The property set specified does not exist on the object."},
};

const char* FindText(DWORD code) {
  for (const SystemMessage& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return nullptr;
}

}  // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD,
                     va_list*) {
  constexpr DWORD kSupported = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
  if ((dwFlags & kSupported) != kSupported || !lpBuffer) return 0;
  const char* text = FindText(dwMessageId);
  if (!text) return 0;
  const std::size_t length = std::strlen(text) + 2;  // and "\r\n"
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return 0;
  std::memcpy(copy, text, length - 2);
  std::memcpy(copy + length - 2, "\r\n", 3);
  *reinterpret_cast<char**>(lpBuffer) = copy;
  return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
