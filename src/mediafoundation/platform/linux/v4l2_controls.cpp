// IAMCameraControl and IAMVideoProcAmp on V4L2 controls. Pan and tilt go in
// degrees and exposure in log2 seconds, as the platform counts them; the
// other properties keep the driver's values.
#include "mediafoundation/platform/linux/v4l2_controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "mediafoundation/platform/linux/v4l2_modes.h"

namespace tarsel::platform {

namespace {

// The platform's code of the power line frequency property of IAMVideoProcAmp.
constexpr LONG kPowerlineFrequency = 13;
constexpr double kArcSecondsPerDegree = 3600.0;
constexpr double kExposureUnitsPerSecond = 10000.0;  // 100 µs

// Exposure modes of V4L2_CID_EXPOSURE_AUTO: which of exposure time and iris
// the camera sets itself.
struct ExposureMode {
  LONG mode;
  bool exposureAutomatic;
  bool irisAutomatic;
};
constexpr ExposureMode kExposureModes[] = {
    {V4L2_EXPOSURE_AUTO, true, true},
    {V4L2_EXPOSURE_MANUAL, false, false},
    {V4L2_EXPOSURE_SHUTTER_PRIORITY, false, true},
    {V4L2_EXPOSURE_APERTURE_PRIORITY, true, false},
};

LONG Clamp(double value, LONG minimum, LONG maximum) {
  if (!(value >= minimum)) return minimum;  // NaN included
  if (value > maximum) return maximum;
  return static_cast<LONG>(std::lround(value));
}

LONG ToCaller(LONG value, ControlUnit unit) {
  switch (unit) {
    case ControlUnit::kDegrees:
      return static_cast<LONG>(std::lround(value / kArcSecondsPerDegree));
    case ControlUnit::kLog2Seconds:
      return static_cast<LONG>(
          std::lround(std::log2(std::max<LONG>(value, 1) / kExposureUnitsPerSecond)));
    case ControlUnit::kSame:
      break;
  }
  return value;
}

LONG ToDevice(LONG value, ControlUnit unit, const v4l2_queryctrl& query) {
  switch (unit) {
    case ControlUnit::kDegrees:
      return Clamp(value * kArcSecondsPerDegree, query.minimum, query.maximum);
    case ControlUnit::kLog2Seconds:
      return Clamp(std::exp2(std::clamp<LONG>(value, -40, 40)) * kExposureUnitsPerSecond,
                   query.minimum, query.maximum);
    case ControlUnit::kSame:
      break;
  }
  return value;
}

HRESULT ControlFailure(int error) {
  if (error == -EINVAL || error == -ERANGE) return E_INVALIDARG;
  return CameraFailure(error);
}

}  // namespace

const std::vector<ControlMapping>& CameraControlMappings() {
  static const std::vector<ControlMapping> mappings = {
      {CameraControl_Pan, V4L2_CID_PAN_ABSOLUTE, 0, ControlUnit::kDegrees},
      {CameraControl_Tilt, V4L2_CID_TILT_ABSOLUTE, 0, ControlUnit::kDegrees},
      {CameraControl_Zoom, V4L2_CID_ZOOM_ABSOLUTE, 0, ControlUnit::kSame},
      {CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO,
       ControlUnit::kLog2Seconds},
      {CameraControl_Iris, V4L2_CID_IRIS_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, ControlUnit::kSame},
      {CameraControl_Focus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, ControlUnit::kSame},
  };
  return mappings;
}

const std::vector<ControlMapping>& VideoProcAmpMappings() {
  static const std::vector<ControlMapping> mappings = {
      {VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, V4L2_CID_AUTOBRIGHTNESS, ControlUnit::kSame},
      {VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0, ControlUnit::kSame},
      {VideoProcAmp_Hue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO, ControlUnit::kSame},
      {VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0, ControlUnit::kSame},
      {VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0, ControlUnit::kSame},
      {VideoProcAmp_Gamma, V4L2_CID_GAMMA, 0, ControlUnit::kSame},
      {VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE,
       ControlUnit::kSame},
      {VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0, ControlUnit::kSame},
      {VideoProcAmp_Gain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, ControlUnit::kSame},
      {kPowerlineFrequency, V4L2_CID_POWER_LINE_FREQUENCY, 0, ControlUnit::kSame},
  };
  return mappings;
}

namespace {

// The control's description; false when the camera lacks it or has it disabled.
bool Query(V4l2Io& io, int fd, UINT32 control, v4l2_queryctrl* query) {
  *query = v4l2_queryctrl{};
  query->id = control;
  return io.Ioctl(fd, VIDIOC_QUERYCTRL, query) >= 0 && query->id == control &&
         !(query->flags & V4L2_CTRL_FLAG_DISABLED);
}

HRESULT Read(V4l2Io& io, int fd, UINT32 control, LONG* value) {
  v4l2_control reading{control, 0};
  const int result = io.Ioctl(fd, VIDIOC_G_CTRL, &reading);
  if (result < 0) return ControlFailure(result);
  *value = reading.value;
  return S_OK;
}

HRESULT Write(V4l2Io& io, int fd, UINT32 control, LONG value) {
  v4l2_control writing{control, value};
  const int result = io.Ioctl(fd, VIDIOC_S_CTRL, &writing);
  return result < 0 ? ControlFailure(result) : S_OK;
}

const ExposureMode* FindExposureMode(LONG mode) {
  for (const ExposureMode& candidate : kExposureModes) {
    if (candidate.mode == mode) return &candidate;
  }
  return nullptr;
}

}  // namespace

V4l2Controls::V4l2Controls(V4l2Io& io, int fd, std::mutex& mutex,
                           const std::vector<ControlMapping>& mappings)
    : PropertySet({}), io_(io), fd_(fd), deviceMutex_(mutex), mappings_(mappings) {}

bool V4l2Controls::AnyPresent(V4l2Io& io, int fd, const std::vector<ControlMapping>& mappings) {
  v4l2_queryctrl query;
  return std::any_of(mappings.begin(), mappings.end(), [&](const ControlMapping& mapping) {
    return Query(io, fd, mapping.valueControl, &query);
  });
}

const ControlMapping* V4l2Controls::Find(LONG id) const {
  for (const ControlMapping& mapping : mappings_) {
    if (mapping.property == id) return &mapping;
  }
  return nullptr;
}

HRESULT V4l2Controls::GetRange(LONG id, LONG* minimum, LONG* maximum, LONG* step,
                               LONG* defaultValue, LONG* capsFlags) const {
  if (!minimum || !maximum || !step || !defaultValue || !capsFlags) return E_POINTER;
  const ControlMapping* mapping = Find(id);
  std::lock_guard lock(deviceMutex_);
  v4l2_queryctrl query;
  if (!mapping || !Query(io_, fd_, mapping->valueControl, &query)) return E_PROP_ID_UNSUPPORTED;
  v4l2_queryctrl automatic;
  const bool canBeAutomatic =
      mapping->autoControl != 0 && Query(io_, fd_, mapping->autoControl, &automatic);
  *minimum = ToCaller(query.minimum, mapping->unit);
  *maximum = ToCaller(query.maximum, mapping->unit);
  *step = mapping->unit == ControlUnit::kSame
              ? std::max<LONG>(query.step, 1)
              : std::max<LONG>(ToCaller(query.step, mapping->unit), 1);
  if (mapping->unit == ControlUnit::kLog2Seconds) *step = 1;
  *defaultValue = ToCaller(query.default_value, mapping->unit);
  *capsFlags = CameraControl_Flags_Manual | (canBeAutomatic ? CameraControl_Flags_Auto : 0);
  return S_OK;
}

HRESULT V4l2Controls::Get(LONG id, LONG* value, LONG* flags) const {
  if (!value || !flags) return E_POINTER;
  const ControlMapping* mapping = Find(id);
  std::lock_guard lock(deviceMutex_);
  v4l2_queryctrl query;
  if (!mapping || !Query(io_, fd_, mapping->valueControl, &query)) return E_PROP_ID_UNSUPPORTED;
  LONG current = 0;
  HRESULT hr = Read(io_, fd_, mapping->valueControl, &current);
  bool automatic = false;
  if (SUCCEEDED(hr)) hr = IsAutomatic(*mapping, &automatic);
  if (FAILED(hr)) return hr;
  *value = ToCaller(current, mapping->unit);
  *flags = automatic ? CameraControl_Flags_Auto : CameraControl_Flags_Manual;
  return S_OK;
}

HRESULT V4l2Controls::Set(LONG id, LONG value, LONG flags) {
  const ControlMapping* mapping = Find(id);
  std::lock_guard lock(deviceMutex_);
  v4l2_queryctrl query;
  if (!mapping || !Query(io_, fd_, mapping->valueControl, &query)) return E_PROP_ID_UNSUPPORTED;
  const bool automatic = (flags & CameraControl_Flags_Auto) != 0;
  if (automatic) return SetAutomatic(*mapping, true);
  bool wasAutomatic = false;
  HRESULT hr = IsAutomatic(*mapping, &wasAutomatic);
  if (SUCCEEDED(hr) && wasAutomatic) hr = SetAutomatic(*mapping, false);
  if (FAILED(hr)) return hr;
  return Write(io_, fd_, mapping->valueControl, ToDevice(value, mapping->unit, query));
}

// Without an automatic control a property is always manual.
HRESULT V4l2Controls::IsAutomatic(const ControlMapping& mapping, bool* automatic) const {
  *automatic = false;
  v4l2_queryctrl query;
  if (mapping.autoControl == 0 || !Query(io_, fd_, mapping.autoControl, &query)) return S_OK;
  LONG state = 0;
  HRESULT hr = Read(io_, fd_, mapping.autoControl, &state);
  if (FAILED(hr)) return hr;
  if (mapping.autoControl != V4L2_CID_EXPOSURE_AUTO) {
    *automatic = state != 0;
  } else if (const ExposureMode* mode = FindExposureMode(state)) {
    *automatic =
        mapping.property == CameraControl_Iris ? mode->irisAutomatic : mode->exposureAutomatic;
  }
  return S_OK;
}

HRESULT V4l2Controls::SetAutomatic(const ControlMapping& mapping, bool automatic) {
  v4l2_queryctrl query;
  if (mapping.autoControl == 0 || !Query(io_, fd_, mapping.autoControl, &query)) {
    return automatic ? E_INVALIDARG : S_OK;
  }
  if (mapping.autoControl != V4L2_CID_EXPOSURE_AUTO) {
    return Write(io_, fd_, mapping.autoControl, automatic ? 1 : 0);
  }
  // One menu serves exposure time and iris: the mode that keeps the other
  // one as it is, else any mode that gives this one the wanted state.
  const bool iris = mapping.property == CameraControl_Iris;
  LONG state = 0;
  HRESULT hr = Read(io_, fd_, mapping.autoControl, &state);
  if (FAILED(hr)) return hr;
  const ExposureMode* current = FindExposureMode(state);
  const bool otherAutomatic =
      current && (iris ? current->exposureAutomatic : current->irisAutomatic);
  hr = E_INVALIDARG;
  for (const bool keepOther : {true, false}) {
    for (const ExposureMode& mode : kExposureModes) {
      const bool mine = iris ? mode.irisAutomatic : mode.exposureAutomatic;
      const bool other = iris ? mode.exposureAutomatic : mode.irisAutomatic;
      if (mine != automatic || (keepOther && other != otherAutomatic)) continue;
      if (mode.mode < query.minimum || mode.mode > query.maximum) continue;
      hr = Write(io_, fd_, mapping.autoControl, mode.mode);
      if (SUCCEEDED(hr) || hr != E_INVALIDARG) return hr;
    }
  }
  return hr;
}

}  // namespace tarsel::platform
