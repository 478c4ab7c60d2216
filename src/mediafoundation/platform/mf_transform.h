// Media Foundation transforms in the portable layer: IMFTransform with its
// constants and records, the audio resampler's class and its quality interface
// IWMResamplerProps. Names, signatures, GUID values and HRESULT codes are the
// platform's.
#pragma once

#include <cstdint>

#include "mediafoundation/platform/mf_types.h"

using ULONG_PTR = std::uintptr_t;

inline constexpr HRESULT MF_E_TRANSFORM_TYPE_NOT_SET = MakeHresult(0xC00D6D60u);
inline constexpr HRESULT MF_E_TRANSFORM_CANNOT_CHANGE_MEDIATYPE_WHILE_PROCESSING =
    MakeHresult(0xC00D6D74u);

// {bf94c121-5b05-4e6f-8000-ba598961414d}
inline constexpr IID IID_IMFTransform{
    0xbf94c121, 0x5b05, 0x4e6f, {0x80, 0x00, 0xba, 0x59, 0x89, 0x61, 0x41, 0x4d}};
// {E7E9984F-F09F-4da4-903F-6E2E0EFE56B5}
inline constexpr IID IID_IWMResamplerProps{
    0xe7e9984f, 0xf09f, 0x4da4, {0x90, 0x3f, 0x6e, 0x2e, 0x0e, 0xfe, 0x56, 0xb5}};
// {f447b69e-1884-4a7e-8055-346f74d6edb3}
inline constexpr CLSID CLSID_CResamplerMediaObject{
    0xf447b69e, 0x1884, 0x4a7e, {0x80, 0x55, 0x34, 0x6f, 0x74, 0xd6, 0xed, 0xb3}};

enum _MFT_INPUT_STATUS_FLAGS { MFT_INPUT_STATUS_ACCEPT_DATA = 0x1 };
enum _MFT_OUTPUT_STATUS_FLAGS { MFT_OUTPUT_STATUS_SAMPLE_READY = 0x1 };
enum _MFT_INPUT_STREAM_INFO_FLAGS {
  MFT_INPUT_STREAM_WHOLE_SAMPLES = 0x1,
  MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER = 0x2,
  MFT_INPUT_STREAM_FIXED_SAMPLE_SIZE = 0x4,
};
enum _MFT_OUTPUT_STREAM_INFO_FLAGS {
  MFT_OUTPUT_STREAM_WHOLE_SAMPLES = 0x1,
  MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER = 0x2,
  MFT_OUTPUT_STREAM_FIXED_SAMPLE_SIZE = 0x4,
  MFT_OUTPUT_STREAM_PROVIDES_SAMPLES = 0x100,
};
enum _MFT_OUTPUT_DATA_BUFFER_FLAGS {
  MFT_OUTPUT_DATA_BUFFER_INCOMPLETE = 0x1000000,
  MFT_OUTPUT_DATA_BUFFER_FORMAT_CHANGE = 0x100,
  MFT_OUTPUT_DATA_BUFFER_STREAM_END = 0x200,
  MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE = 0x300,
};
enum _MFT_SET_TYPE_FLAGS { MFT_SET_TYPE_TEST_ONLY = 0x1 };

typedef enum _MFT_MESSAGE_TYPE {
  MFT_MESSAGE_COMMAND_FLUSH = 0x0,
  MFT_MESSAGE_COMMAND_DRAIN = 0x1,
  MFT_MESSAGE_SET_D3D_MANAGER = 0x2,
  MFT_MESSAGE_NOTIFY_BEGIN_STREAMING = 0x10000000,
  MFT_MESSAGE_NOTIFY_END_STREAMING = 0x10000001,
  MFT_MESSAGE_NOTIFY_END_OF_STREAM = 0x10000002,
  MFT_MESSAGE_NOTIFY_START_OF_STREAM = 0x10000003,
  MFT_MESSAGE_COMMAND_MARKER = 0x20000000,
} MFT_MESSAGE_TYPE;

// A list of objects; transforms may hand events back in one.
struct IMFCollection : IUnknown {};

typedef struct _MFT_INPUT_STREAM_INFO {
  LONGLONG hnsMaxLatency;
  DWORD dwFlags;
  DWORD cbSize;
  DWORD cbMaxLookahead;
  DWORD cbAlignment;
} MFT_INPUT_STREAM_INFO;

typedef struct _MFT_OUTPUT_STREAM_INFO {
  DWORD dwFlags;
  DWORD cbSize;
  DWORD cbAlignment;
} MFT_OUTPUT_STREAM_INFO;

typedef struct _MFT_OUTPUT_DATA_BUFFER {
  DWORD dwStreamID;
  IMFSample* pSample;
  DWORD dwStatus;
  IMFCollection* pEvents;
} MFT_OUTPUT_DATA_BUFFER;

struct IMFTransform : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* pdwInputMinimum, DWORD* pdwInputMaximum,
                                                    DWORD* pdwOutputMinimum,
                                                    DWORD* pdwOutputMaximum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcInputStreams,
                                                   DWORD* pcOutputStreams) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD dwInputIDArraySize, DWORD* pdwInputIDs,
                                                 DWORD dwOutputIDArraySize,
                                                 DWORD* pdwOutputIDs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD dwInputStreamID,
                                                       MFT_INPUT_STREAM_INFO* pStreamInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD dwOutputStreamID,
                                                        MFT_OUTPUT_STREAM_INFO* pStreamInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** pAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD dwInputStreamID,
                                                             IMFAttributes** pAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD dwOutputStreamID,
                                                              IMFAttributes** pAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD dwStreamID) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD cStreams, DWORD* adwStreamIDs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD dwInputStreamID, DWORD dwTypeIndex,
                                                          IMFMediaType** ppType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD dwOutputStreamID,
                                                           DWORD dwTypeIndex,
                                                           IMFMediaType** ppType) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInputType(DWORD dwInputStreamID, IMFMediaType* pType,
                                                 DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOutputType(DWORD dwOutputStreamID, IMFMediaType* pType,
                                                  DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD dwInputStreamID,
                                                        IMFMediaType** ppType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD dwOutputStreamID,
                                                         IMFMediaType** ppType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD dwInputStreamID, DWORD* pdwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* pdwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG hnsLowerBound,
                                                    LONGLONG hnsUpperBound) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD dwInputStreamID, IMFMediaEvent* pEvent) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE eMessage,
                                                   ULONG_PTR ulParam) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessInput(DWORD dwInputStreamID, IMFSample* pSample,
                                                 DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD dwFlags, DWORD cOutputBufferCount,
                                                  MFT_OUTPUT_DATA_BUFFER* pOutputSamples,
                                                  DWORD* pdwStatus) = 0;
};

typedef float ChMtxType;

// The resampler's quality and channel matrix.
struct IWMResamplerProps : IUnknown {
  // Taps on each side of the interpolation filter, 1 to 60.
  virtual HRESULT STDMETHODCALLTYPE SetHalfFilterLength(LONG lhalfFilterLen) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUserChannelMtx(ChMtxType* userChannelMtx) = 0;
};
