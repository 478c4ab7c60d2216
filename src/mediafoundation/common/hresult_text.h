// The text a caller receives for a failed Media Foundation or COM result: the
// system's message for the code, or a fallback naming the code.
#pragma once

#include <string>

#include "common/boundary.h"
#include "mediafoundation/common/media_foundation.h"

namespace tarsel {

// The system's message for hr without its closing line break; without one,
// "IDispatch error #n" for codes 0x80040201 to 0x8004FFFF (n counted from
// 0x80040200) and "Unknown error 0x%0lX" for every other code.
std::string HresultText(HRESULT hr);
// The same from a given system text (null: none).
std::string HresultTextFrom(HRESULT hr, const char* systemText);

// Raises the HRESULT text of a failed result; a success passes.
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw Message(HresultText(hr).c_str());
}

}  // namespace tarsel
