// Checks on captured or converted audio against the ideal tone: samples of one
// channel decoded from interleaved bytes, the frequency from rising zero
// crossings, and a least-squares fit of a sine of known frequency.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tarsel_test {

enum class SampleKind { kPcm, kFloat };

// Channel channel of interleaved samples, scaled to -1..1: 32-bit float, or
// signed integers of 16 bits or more.
inline std::vector<double> DecodeChannel(const uint8_t* bytes, std::size_t size, SampleKind kind,
                                         int bits, int channels, int channel) {
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  const std::size_t frame = width * static_cast<std::size_t>(channels);
  std::vector<double> values;
  for (std::size_t at = width * static_cast<std::size_t>(channel); at + width <= size;
       at += frame) {
    const uint8_t* p = bytes + at;
    if (kind == SampleKind::kFloat) {
      float value;
      std::memcpy(&value, p, 4);
      values.push_back(value);
    } else {
      // Little-endian signed integer of width bytes, sign taken from the top byte.
      int64_t value = static_cast<int8_t>(p[width - 1]);
      for (std::size_t k = width - 1; k-- > 0;) value = value * 256 + p[k];
      values.push_back(static_cast<double>(value) / std::ldexp(1.0, bits - 1));
    }
  }
  return values;
}

// Frequency from the first and last rising zero crossing, interpolated.
inline double ZeroCrossingFrequency(const std::vector<double>& x, double rate) {
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double at = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings < 2 ? 0.0 : (crossings - 1) * rate / (last - first);
}

struct SineFit {
  double amplitude;
  double residual;  // root mean square of what the sine does not explain
};

// Least-squares fit of a sin(wt) + b cos(wt) to x.
inline SineFit FitSine(const std::vector<double>& x, double rate, double hz) {
  double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
  const double w = 2 * 3.14159265358979323846 * hz / rate;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double s = std::sin(w * i), c = std::cos(w * i);
    ss += s * s;
    cc += c * c;
    sc += s * c;
    xs += x[i] * s;
    xc += x[i] * c;
  }
  const double det = ss * cc - sc * sc;
  if (x.empty() || det == 0) return {0, 0};
  const double a = (xs * cc - xc * sc) / det;
  const double b = (xc * ss - xs * sc) / det;
  double error = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double e = x[i] - a * std::sin(w * i) - b * std::cos(w * i);
    error += e * e;
  }
  return {std::hypot(a, b), std::sqrt(error / x.size())};
}

}  // namespace tarsel_test
