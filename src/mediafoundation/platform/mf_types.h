// The Media Foundation interfaces, constants and functions of the portable
// layer: attribute stores, media types, samples and memory buffers, device
// enumeration and activation, media sources, the source reader and the two
// camera property interfaces. Names, signatures, GUID values and HRESULT codes
// are the platform's. Each interface declares the methods the library uses;
// further ones are added where a family needs them.
#pragma once

#include "mediafoundation/platform/com_types.h"

// ------------------------------------------------------------ HRESULT codes

inline constexpr HRESULT MF_E_PLATFORM_NOT_INITIALIZED = MakeHresult(0xC00D36B0u);
inline constexpr HRESULT MF_E_BUFFERTOOSMALL = MakeHresult(0xC00D36B1u);
inline constexpr HRESULT MF_E_INVALIDREQUEST = MakeHresult(0xC00D36B2u);
inline constexpr HRESULT MF_E_INVALIDSTREAMNUMBER = MakeHresult(0xC00D36B3u);
inline constexpr HRESULT MF_E_INVALIDMEDIATYPE = MakeHresult(0xC00D36B4u);
inline constexpr HRESULT MF_E_NOTACCEPTING = MakeHresult(0xC00D36B5u);
inline constexpr HRESULT MF_E_NO_MORE_TYPES = MakeHresult(0xC00D36B9u);
inline constexpr HRESULT MF_E_UNEXPECTED = MakeHresult(0xC00D36BBu);
inline constexpr HRESULT MF_E_INVALIDTYPE = MakeHresult(0xC00D36BDu);
inline constexpr HRESULT MF_E_INVALIDINDEX = MakeHresult(0xC00D36BFu);
inline constexpr HRESULT MF_E_NOT_FOUND = MakeHresult(0xC00D36D5u);
inline constexpr HRESULT MF_E_BAD_STARTUP_VERSION = MakeHresult(0xC00D36E3u);
inline constexpr HRESULT MF_E_ATTRIBUTENOTFOUND = MakeHresult(0xC00D36E6u);
inline constexpr HRESULT MF_E_SHUTDOWN = MakeHresult(0xC00D3E85u);
inline constexpr HRESULT MF_E_TRANSFORM_NEED_MORE_INPUT = MakeHresult(0xC00D6D72u);
// Capture devices: a camera that another application streams from, a
// microphone in use, and devices that went away.
inline constexpr HRESULT MF_E_HW_MFT_FAILED_START_STREAMING = MakeHresult(0xC00D3704u);
inline constexpr HRESULT MF_E_AUDIO_RECORDING_DEVICE_IN_USE = MakeHresult(0xC00D3EA0u);
inline constexpr HRESULT MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED = MakeHresult(0xC00D3EA1u);
inline constexpr HRESULT MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED = MakeHresult(0xC00D3EA2u);

// ------------------------------------------------------------ start-up

inline constexpr ULONG MF_SDK_VERSION = 0x0002;
inline constexpr ULONG MF_API_VERSION = 0x0070;
inline constexpr ULONG MF_VERSION = MF_SDK_VERSION << 16 | MF_API_VERSION;
inline constexpr DWORD MFSTARTUP_NOSOCKET = 0x1;
inline constexpr DWORD MFSTARTUP_LITE = MFSTARTUP_NOSOCKET;
inline constexpr DWORD MFSTARTUP_FULL = 0;

STDAPI MFStartup(ULONG Version, DWORD dwFlags);
STDAPI MFShutdown();

// ------------------------------------------------------------ GUIDs

#define TARSEL_MF_GUID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
  inline constexpr GUID name {                                           \
    d1, d2, d3, { b0, b1, b2, b3, b4, b5, b6, b7 }                       \
  }
// Media subtypes built from a FOURCC or a format tag:
// {XXXXXXXX-0000-0010-8000-00AA00389B71}.
#define TARSEL_MF_MEDIATYPE(name, tag) \
  TARSEL_MF_GUID(name, tag, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71)

TARSEL_MF_GUID(IID_IMFAttributes, 0x2cd2d921, 0xc447, 0x44a7, 0xa1, 0x3c, 0x4a, 0xda, 0xbf, 0xc2,
               0x47, 0xe3);
TARSEL_MF_GUID(IID_IMFMediaType, 0x44ae0fa8, 0xea31, 0x4109, 0x8d, 0x2e, 0x4c, 0xae, 0x49, 0x97,
               0xc5, 0x55);
TARSEL_MF_GUID(IID_IMFMediaBuffer, 0x045fa593, 0x8799, 0x42b8, 0xbc, 0x8d, 0x89, 0x68, 0xc6, 0x45,
               0x35, 0x07);
TARSEL_MF_GUID(IID_IMFSample, 0xc40a00f2, 0xb93a, 0x4d80, 0xae, 0x8c, 0x5a, 0x1c, 0x63, 0x4f, 0x58,
               0xe4);
TARSEL_MF_GUID(IID_IMFActivate, 0x7fee9e9a, 0x4a89, 0x47a6, 0x89, 0x9c, 0xb6, 0xa5, 0x3a, 0x70,
               0xfb, 0x67);
TARSEL_MF_GUID(IID_IMFMediaEventGenerator, 0x2cd0bd52, 0xbcd5, 0x4b89, 0xb6, 0x2c, 0xea, 0xdc, 0x0c,
               0x03, 0x1e, 0x7d);
TARSEL_MF_GUID(IID_IMFMediaSource, 0x279a808d, 0xaec7, 0x40c8, 0x9c, 0x6b, 0xa6, 0xb4, 0x92, 0xc7,
               0x8a, 0x66);
TARSEL_MF_GUID(IID_IMFSourceReader, 0x70ae66f2, 0xc809, 0x4e4f, 0x89, 0x15, 0xbd, 0xcb, 0x40, 0x6b,
               0x79, 0x93);
TARSEL_MF_GUID(IID_IMFSourceReaderCallback, 0xdeec8d99, 0xfa1d, 0x4d82, 0x84, 0xc2, 0x2c, 0x89,
               0x69, 0x94, 0x48, 0x67);
TARSEL_MF_GUID(IID_IAMCameraControl, 0xc6e13370, 0x30ac, 0x11d0, 0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11,
               0x89, 0x56);
TARSEL_MF_GUID(IID_IAMVideoProcAmp, 0xc6e13360, 0x30ac, 0x11d0, 0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11,
               0x89, 0x56);

TARSEL_MF_GUID(MF_MT_MAJOR_TYPE, 0x48eba18e, 0xf8c9, 0x4687, 0xbf, 0x11, 0x0a, 0x74, 0xc9, 0xf9,
               0x6a, 0x8f);
TARSEL_MF_GUID(MF_MT_SUBTYPE, 0xf7e34c9a, 0x42e8, 0x4714, 0xb7, 0x4b, 0xcb, 0x29, 0xd7, 0x2c, 0x35,
               0xe5);
TARSEL_MF_GUID(MF_MT_COMPRESSED, 0x3afd0cee, 0x18f2, 0x4ba5, 0xa1, 0x10, 0x8b, 0xea, 0x50, 0x2e,
               0x1f, 0x92);
TARSEL_MF_GUID(MF_MT_ALL_SAMPLES_INDEPENDENT, 0xc9173739, 0x5e56, 0x461c, 0xb7, 0x13, 0x46, 0xfb,
               0x99, 0x5c, 0xb9, 0x5f);
TARSEL_MF_GUID(MF_MT_FIXED_SIZE_SAMPLES, 0xb8ebefaf, 0xb718, 0x4e04, 0xb0, 0xa9, 0x11, 0x67, 0x75,
               0xe3, 0x32, 0x1b);
TARSEL_MF_GUID(MF_MT_SAMPLE_SIZE, 0xdad3ab78, 0x1990, 0x408b, 0xbc, 0xe2, 0xeb, 0xa6, 0x73, 0xda,
               0xcc, 0x10);
TARSEL_MF_GUID(MF_MT_FRAME_SIZE, 0x1652c33d, 0xd6b2, 0x4012, 0xb8, 0x34, 0x72, 0x03, 0x08, 0x49,
               0xa3, 0x7d);
TARSEL_MF_GUID(MF_MT_FRAME_RATE, 0xc459a2e8, 0x3d2c, 0x4e44, 0xb1, 0x32, 0xfe, 0xe5, 0x15, 0x6c,
               0x7b, 0xb0);
TARSEL_MF_GUID(MF_MT_FRAME_RATE_RANGE_MAX, 0xe3371d41, 0xb4cf, 0x4a05, 0xbd, 0x4e, 0x20, 0xb8, 0x8b,
               0xb2, 0xc4, 0xd6);
TARSEL_MF_GUID(MF_MT_FRAME_RATE_RANGE_MIN, 0xd2e7558c, 0xdc1f, 0x403f, 0x9a, 0x72, 0xd2, 0x8b, 0xb1,
               0xeb, 0x3b, 0x5e);
TARSEL_MF_GUID(MF_MT_PIXEL_ASPECT_RATIO, 0xc6376a1e, 0x8d0a, 0x4027, 0xbe, 0x45, 0x6d, 0x9a, 0x0a,
               0xd3, 0x9b, 0xb6);
TARSEL_MF_GUID(MF_MT_INTERLACE_MODE, 0xe2724bb8, 0xe676, 0x4806, 0xb4, 0xb2, 0xa8, 0xd6, 0xef, 0xb4,
               0x4c, 0xcd);
TARSEL_MF_GUID(MF_MT_DEFAULT_STRIDE, 0x644b4e48, 0x1e02, 0x4516, 0xb0, 0xeb, 0xc0, 0x1c, 0xa9, 0xd4,
               0x9a, 0xc6);
TARSEL_MF_GUID(MF_MT_AVG_BITRATE, 0x20332624, 0xfb0d, 0x4d9e, 0xbd, 0x0d, 0xcb, 0xf6, 0x78, 0x6c,
               0x10, 0x2e);
TARSEL_MF_GUID(MF_MT_MPEG2_PROFILE, 0xad76a80b, 0x2d5c, 0x4e0b, 0xb3, 0x75, 0x64, 0xe5, 0x20, 0x13,
               0x70, 0x36);
TARSEL_MF_GUID(MF_MT_MPEG2_LEVEL, 0x96f66574, 0x11c5, 0x4015, 0x86, 0x66, 0xbf, 0xf5, 0x16, 0x43,
               0x6d, 0xa7);
TARSEL_MF_GUID(MF_MT_AUDIO_NUM_CHANNELS, 0x37e48bf5, 0x645e, 0x4c5b, 0x89, 0xde, 0xad, 0xa9, 0xe2,
               0x9b, 0x69, 0x6a);
TARSEL_MF_GUID(MF_MT_AUDIO_SAMPLES_PER_SECOND, 0x5faeeae7, 0x0290, 0x4c31, 0x9e, 0x8a, 0xc5, 0x34,
               0xf6, 0x8d, 0x9d, 0xba);
TARSEL_MF_GUID(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0x1aab75c8, 0xcfef, 0x451c, 0xab, 0x95, 0xac, 0x03,
               0x4b, 0x8e, 0x17, 0x31);
TARSEL_MF_GUID(MF_MT_AUDIO_BLOCK_ALIGNMENT, 0x322de230, 0x9eeb, 0x43bd, 0xab, 0x7a, 0xff, 0x41,
               0x22, 0x51, 0x54, 0x1d);
TARSEL_MF_GUID(MF_MT_AUDIO_BITS_PER_SAMPLE, 0xf2deb57f, 0x40fa, 0x4764, 0xaa, 0x33, 0xed, 0x4f,
               0x2d, 0x1f, 0xf6, 0x69);
TARSEL_MF_GUID(MF_MT_AUDIO_CHANNEL_MASK, 0x55fb5765, 0x644a, 0x4caf, 0x84, 0x79, 0x93, 0x89, 0x83,
               0xbb, 0x15, 0x88);

TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, 0xc60ac5fe, 0x252a, 0x478f, 0xa0, 0xef, 0xbc,
               0x8f, 0xa5, 0xf7, 0xca, 0xd3);
TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 0x8ac3587a, 0x4ae7, 0x42d8, 0x99,
               0xe0, 0x0a, 0x60, 0x13, 0xee, 0xf9, 0x0f);
TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID, 0x14dd9a1c, 0x7cff, 0x41be, 0xb1,
               0xb9, 0xba, 0x1a, 0xc6, 0xec, 0xb5, 0x71);
TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, 0x60d0e559, 0x52f8, 0x4fa2, 0xbb, 0xce, 0xac,
               0xdb, 0x34, 0xa8, 0xec, 0x01);
TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, 0x58f0aad8, 0x22bf, 0x4f8a,
               0xbb, 0x3d, 0xd2, 0xc4, 0x97, 0x8c, 0x6e, 0x2f);
TARSEL_MF_GUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID, 0x30da9258, 0xfeb9, 0x47a7,
               0xa4, 0x53, 0x76, 0x3a, 0x7a, 0x8e, 0x1c, 0x5f);
TARSEL_MF_GUID(MF_SOURCE_READER_ASYNC_CALLBACK, 0x1e3dbeac, 0xbb43, 0x4c35, 0xb5, 0x07, 0xcd, 0x64,
               0x44, 0x64, 0xc9, 0x65);
TARSEL_MF_GUID(MF_READWRITE_DISABLE_CONVERTERS, 0x98d5b065, 0x1374, 0x4847, 0x8d, 0x5d, 0x31, 0x52,
               0x0f, 0xee, 0x71, 0x56);

TARSEL_MF_MEDIATYPE(MFMediaType_Video, 0x73646976);
TARSEL_MF_MEDIATYPE(MFMediaType_Audio, 0x73647561);
TARSEL_MF_MEDIATYPE(MFVideoFormat_RGB24, 20);
TARSEL_MF_MEDIATYPE(MFVideoFormat_RGB32, 22);
TARSEL_MF_MEDIATYPE(MFVideoFormat_NV12, 0x3231564E);
TARSEL_MF_MEDIATYPE(MFVideoFormat_YUY2, 0x32595559);
TARSEL_MF_MEDIATYPE(MFVideoFormat_UYVY, 0x59565955);
TARSEL_MF_MEDIATYPE(MFVideoFormat_YV12, 0x32315659);
TARSEL_MF_MEDIATYPE(MFVideoFormat_I420, 0x30323449);
TARSEL_MF_MEDIATYPE(MFVideoFormat_MJPG, 0x47504A4D);
TARSEL_MF_MEDIATYPE(MFVideoFormat_H264, 0x34363248);
TARSEL_MF_MEDIATYPE(MFAudioFormat_PCM, 0x0001);
TARSEL_MF_MEDIATYPE(MFAudioFormat_Float, 0x0003);
TARSEL_MF_MEDIATYPE(MFAudioFormat_AAC, 0x1610);

#undef TARSEL_MF_MEDIATYPE
#undef TARSEL_MF_GUID

// ------------------------------------------------------------ enumerations

enum MF_ATTRIBUTE_TYPE {
  MF_ATTRIBUTE_UINT32 = 19,    // VT_UI4
  MF_ATTRIBUTE_UINT64 = 21,    // VT_UI8
  MF_ATTRIBUTE_DOUBLE = 5,     // VT_R8
  MF_ATTRIBUTE_GUID = 72,      // VT_CLSID
  MF_ATTRIBUTE_STRING = 31,    // VT_LPWSTR
  MF_ATTRIBUTE_BLOB = 0x1011,  // VT_VECTOR | VT_UI1
  MF_ATTRIBUTE_IUNKNOWN = 13,  // VT_UNKNOWN
};

enum MFVideoInterlaceMode { MFVideoInterlace_Unknown = 0, MFVideoInterlace_Progressive = 2 };

enum MF_SOURCE_READER_CONSTANTS : DWORD {
  MF_SOURCE_READER_INVALID_STREAM_INDEX = 0xFFFFFFFF,
  MF_SOURCE_READER_ALL_STREAMS = 0xFFFFFFFE,
  MF_SOURCE_READER_ANY_STREAM = 0xFFFFFFFE,
  MF_SOURCE_READER_FIRST_AUDIO_STREAM = 0xFFFFFFFD,
  MF_SOURCE_READER_FIRST_VIDEO_STREAM = 0xFFFFFFFC,
  MF_SOURCE_READER_MEDIASOURCE = 0xFFFFFFFF,
  MF_SOURCE_READER_CURRENT_TYPE_INDEX = 0xFFFFFFFF,
};
enum MF_SOURCE_READER_CONTROL_FLAG { MF_SOURCE_READER_CONTROLF_DRAIN = 0x1 };
enum MF_SOURCE_READER_FLAG {
  MF_SOURCE_READERF_ERROR = 0x1,
  MF_SOURCE_READERF_ENDOFSTREAM = 0x2,
  MF_SOURCE_READERF_NEWSTREAM = 0x4,
  MF_SOURCE_READERF_NATIVEMEDIATYPECHANGED = 0x10,
  MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED = 0x20,
  MF_SOURCE_READERF_STREAMTICK = 0x100,
};

enum CameraControlProperty {
  CameraControl_Pan = 0,
  CameraControl_Tilt = 1,
  CameraControl_Roll = 2,
  CameraControl_Zoom = 3,
  CameraControl_Exposure = 4,
  CameraControl_Iris = 5,
  CameraControl_Focus = 6,
};
enum CameraControlFlags { CameraControl_Flags_Auto = 0x1, CameraControl_Flags_Manual = 0x2 };
enum VideoProcAmpProperty {
  VideoProcAmp_Brightness = 0,
  VideoProcAmp_Contrast = 1,
  VideoProcAmp_Hue = 2,
  VideoProcAmp_Saturation = 3,
  VideoProcAmp_Sharpness = 4,
  VideoProcAmp_Gamma = 5,
  VideoProcAmp_ColorEnable = 6,
  VideoProcAmp_WhiteBalance = 7,
  VideoProcAmp_BacklightCompensation = 8,
  VideoProcAmp_Gain = 9,
};
enum VideoProcAmpFlags { VideoProcAmp_Flags_Auto = 0x1, VideoProcAmp_Flags_Manual = 0x2 };

// ------------------------------------------------------------ interfaces

struct IMFAttributes : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID guidKey, UINT32* punValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID guidKey, UINT64* punValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDouble(REFGUID guidKey, double* pfValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGUID(REFGUID guidKey, GUID* pguidValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID guidKey, UINT32* pcchLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize,
                                              UINT32* pcchLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue,
                                                       UINT32* pcchLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBlob(REFGUID guidKey, BYTE* pBuf, UINT32 cbBufSize,
                                            UINT32* pcbBlobSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID guidKey) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAllItems() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID guidKey, UINT32 unValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID guidKey, UINT64 unValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDouble(REFGUID guidKey, double fValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guidKey, REFGUID guidValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetString(REFGUID guidKey, LPCWSTR wszValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBlob(REFGUID guidKey, const BYTE* pBuf,
                                            UINT32 cbBufSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID guidKey, IUnknown* pUnknown) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCount(UINT32* pcItems) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* pDest) = 0;
};

struct IMFMediaType : IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* pfCompressed) = 0;
};

struct IMFMediaBuffer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength,
                                         DWORD* pcbCurrentLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* pcbCurrentLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD cbCurrentLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pcbMaxLength) = 0;
};

struct IMFSample : IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE GetSampleTime(LONGLONG* phnsSampleTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSampleTime(LONGLONG hnsSampleTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSampleDuration(LONGLONG* phnsSampleDuration) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSampleDuration(LONGLONG hnsSampleDuration) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferCount(DWORD* pdwBufferCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddBuffer(IMFMediaBuffer* pBuffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAllBuffers() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* pcbTotalLength) = 0;
};

struct IMFActivate : IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShutdownObject() = 0;
  virtual HRESULT STDMETHODCALLTYPE DetachObject() = 0;
};

struct IMFMediaEvent;

struct IMFMediaSource : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
enum MFMEDIASOURCE_CHARACTERISTICS { MFMEDIASOURCE_IS_LIVE = 0x1, MFMEDIASOURCE_CAN_PAUSE = 0x4 };

struct IMFSourceReader : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStreamSelection(DWORD dwStreamIndex, BOOL* pfSelected) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD dwStreamIndex, BOOL fSelected) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNativeMediaType(DWORD dwStreamIndex, DWORD dwMediaTypeIndex,
                                                       IMFMediaType** ppMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD dwStreamIndex,
                                                        IMFMediaType** ppMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD dwStreamIndex, DWORD* pdwReserved,
                                                        IMFMediaType* pMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadSample(DWORD dwStreamIndex, DWORD dwControlFlags,
                                               DWORD* pdwActualStreamIndex, DWORD* pdwStreamFlags,
                                               LONGLONG* pllTimestamp, IMFSample** ppSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE Flush(DWORD dwStreamIndex) = 0;
};

struct IMFSourceReaderCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT hrStatus, DWORD dwStreamIndex,
                                                 DWORD dwStreamFlags, LONGLONG llTimestamp,
                                                 IMFSample* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnFlush(DWORD dwStreamIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnEvent(DWORD dwStreamIndex, IMFMediaEvent* pEvent) = 0;
};

struct IAMCameraControl : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetRange(LONG Property, LONG* pMin, LONG* pMax,
                                             LONG* pSteppingDelta, LONG* pDefault,
                                             LONG* pCapsFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Set(LONG Property, LONG lValue, LONG Flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(LONG Property, LONG* lValue, LONG* Flags) = 0;
};

struct IAMVideoProcAmp : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetRange(LONG Property, LONG* pMin, LONG* pMax,
                                             LONG* pSteppingDelta, LONG* pDefault,
                                             LONG* pCapsFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Set(LONG Property, LONG lValue, LONG Flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(LONG Property, LONG* lValue, LONG* Flags) = 0;
};

// ------------------------------------------------------------ functions

STDAPI MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);
STDAPI MFCreateMediaType(IMFMediaType** ppMFType);
STDAPI MFCreateSample(IMFSample** ppIMFSample);
STDAPI MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
STDAPI MFEnumDeviceSources(IMFAttributes* pAttributes, IMFActivate*** pppSourceActivate,
                           UINT32* pcSourceActivate);
STDAPI MFCreateSourceReaderFromMediaSource(IMFMediaSource* pMediaSource, IMFAttributes* pAttributes,
                                           IMFSourceReader** ppSourceReader);
