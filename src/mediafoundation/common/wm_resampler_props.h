// IWMResamplerProps, the resampler's quality setting, and the resampler's class.
// The Windows SDK declares the interface in wmcodecdsp.h; mingw-w64's header
// lacks it, so it is declared here when the header has not. The import
// libraries of mingw-w64 do not carry IID_IWMResamplerProps either: code asks
// ResamplerPropsIid() for it. Elsewhere the portable layer declares it all.
#pragma once

#include "mediafoundation/common/media_foundation.h"

#if defined(_WIN32)

#include <unknwn.h>
#include <wmcodecdsp.h>

#ifndef __IWMResamplerProps_INTERFACE_DEFINED__
#define __IWMResamplerProps_INTERFACE_DEFINED__

typedef float ChMtxType;

MIDL_INTERFACE("E7E9984F-F09F-4da4-903F-6E2E0EFE56B5")
IWMResamplerProps : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetHalfFilterLength(LONG lhalfFilterLen) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUserChannelMtx(ChMtxType * userChannelMtx) = 0;
};

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWMResamplerProps, 0xe7e9984f, 0xf09f, 0x4da4, 0x90, 0x3f, 0x6e, 0x2e, 0x0e, 0xfe,
                0x56, 0xb5)
#endif

#endif  // __IWMResamplerProps_INTERFACE_DEFINED__

#endif  // _WIN32

namespace tarsel {

inline const IID& ResamplerPropsIid() {
#if defined(_WIN32)
  return __uuidof(IWMResamplerProps);
#else
  return IID_IWMResamplerProps;
#endif
}

}  // namespace tarsel
