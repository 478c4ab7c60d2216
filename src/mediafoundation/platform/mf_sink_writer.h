// The sink writer of the portable layer and the encoder settings it reads from
// media types: interface, GUIDs, codes and values as the platform's.
#pragma once

#include "mediafoundation/platform/mf_types.h"

// No encoder takes the combination of input and output types.
inline constexpr HRESULT MF_E_TOPO_CODEC_NOT_FOUND = MakeHresult(0xC00D5212u);

inline constexpr GUID IID_IMFSinkWriter{
    0x3137f1cd, 0xfe5e, 0x4805, {0xa5, 0xd8, 0xfb, 0x47, 0x74, 0x48, 0xcb, 0x3d}};
inline constexpr GUID MF_SINK_WRITER_DISABLE_THROTTLING{
    0x08b845d8, 0x2b74, 0x4afe, {0x9d, 0x53, 0xbe, 0x16, 0xd2, 0xd5, 0xae, 0x4f}};

// Encoder properties, set as attributes of a stream's output type.
inline constexpr GUID CODECAPI_AVEncCommonRateControlMode{
    0x1c0608e9, 0x370c, 0x4710, {0x8a, 0x58, 0xcb, 0x61, 0x81, 0xc4, 0x24, 0x23}};
inline constexpr GUID CODECAPI_AVEncCommonQuality{
    0xfcbf57a3, 0x7ea5, 0x4b0c, {0x96, 0x44, 0x69, 0xb4, 0x0c, 0x39, 0xc3, 0x91}};
inline constexpr GUID CODECAPI_AVEncVideoMinQP{
    0x0ee22c6a, 0xa37c, 0x4568, {0xb5, 0xf1, 0x9d, 0x4c, 0x2b, 0x3a, 0xb8, 0x86}};

enum eAVEncCommonRateControlMode {
  eAVEncCommonRateControlMode_CBR = 0,
  eAVEncCommonRateControlMode_PeakConstrainedVBR = 1,
  eAVEncCommonRateControlMode_UnconstrainedVBR = 2,
  eAVEncCommonRateControlMode_Quality = 3,
  eAVEncCommonRateControlMode_LowDelayVBR = 4,
  eAVEncCommonRateControlMode_GlobalVBR = 5,
  eAVEncCommonRateControlMode_GlobalLowDelayVBR = 6,
};

enum eAVEncH264VProfile {
  eAVEncH264VProfile_unknown = 0,
  eAVEncH264VProfile_Base = 66,
  eAVEncH264VProfile_Main = 77,
  eAVEncH264VProfile_High = 100,
};

struct IMFByteStream;
struct MF_SINK_WRITER_STATISTICS;

struct IMFSinkWriter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* pTargetMediaType,
                                              DWORD* pdwStreamIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD dwStreamIndex,
                                                      IMFMediaType* pInputMediaType,
                                                      IMFAttributes* pEncodingParameters) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwStreamIndex, IMFSample* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD dwStreamIndex, LONGLONG llTimestamp) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD dwStreamIndex, LPVOID pvContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD dwStreamIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE Flush(DWORD dwStreamIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE Finalize() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD dwStreamIndex, REFGUID guidService,
                                                        REFIID riid, LPVOID* ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatistics(DWORD dwStreamIndex,
                                                  MF_SINK_WRITER_STATISTICS* pStats) = 0;
};

// Creates the file the url names, in the container its extension names.
STDAPI MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream,
                                 IMFAttributes* pAttributes, IMFSinkWriter** ppSinkWriter);
