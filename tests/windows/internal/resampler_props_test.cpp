// The resampler DMO's IWMResamplerProps, declared by the library where the
// Windows headers lack it: its IID must be the one the DMO answers to. Only
// the Windows build has the DMO.
#if defined(_WIN32)

#include <mfapi.h>
#include <mftransform.h>
#include <objbase.h>
#include <windows.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "mediafoundation/common/wm_resampler_props.h"
#include "support/wine.h"

namespace {

using Microsoft::WRL::ComPtr;

class ResamplerDmo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    comStarted_ = true;
    const HRESULT created = CoCreateInstance(CLSID_CResamplerMediaObject, nullptr,
                                             CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&resampler_));
    // Under Wine the DMO needs GStreamer's base plugins (gstreamer1.0-plugins-base).
    ASSERT_EQ(created, S_OK) << std::hex << created;
  }
  void TearDown() override {
    resampler_.Reset();
    if (comStarted_) CoUninitialize();
  }
  ComPtr<IUnknown> resampler_;
  bool comStarted_ = false;
};

TEST_F(ResamplerDmo, IsATransform) {
  ComPtr<IMFTransform> transform;
  EXPECT_EQ(resampler_.As(&transform), S_OK);
}

TEST_F(ResamplerDmo, TakesAHalfFilterLength) {
  TARSEL_SKIP_UNDER_WINE("the resampler DMO does not implement IWMResamplerProps");
  ComPtr<IWMResamplerProps> props;
  ASSERT_EQ(resampler_.As(&props), S_OK);
  EXPECT_EQ(props->SetHalfFilterLength(60), S_OK);
}

}  // namespace

#endif  // _WIN32
