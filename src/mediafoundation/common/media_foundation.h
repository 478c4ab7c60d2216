// The one header through which the capture and encoder families reach Media
// Foundation and COM. On Windows these are the SDK's own headers; elsewhere the
// portable layer provides the same names, signatures, GUID values and HRESULT
// codes, with devices from pluggable providers (see platform/).
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfobjects.h>
#include <mfreadwrite.h>
#include <mftransform.h>
#include <shlwapi.h>
#include <strmif.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <codecapi.h>
#else
#include "mediafoundation/platform/mf_sink_writer.h"
#include "mediafoundation/platform/mf_transform.h"
#include "mediafoundation/platform/mf_types.h"
#include "mediafoundation/platform/system_messages.h"
#endif
