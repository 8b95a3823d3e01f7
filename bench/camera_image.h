#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "image/image.h"
#include "io/image_codec.h"

namespace duo::bench {

/// Grain amplitude of an ordinary photograph, and of one at a high sensitivity (the noisy pair of
/// the benchmarks).
inline constexpr int kCameraGrain = 10;
inline constexpr int kNoisyGrain = 48;

/// A camera-like photograph: smooth value noise at a coarse scale, a finer ripple and grain of
/// up to ±`grainAmplitude` per channel, so the JPEG entropy decoder has as much work as on a
/// real photograph (a flat test card decodes unrealistically fast). `shift` moves the content
/// left, giving the right eye's view.
inline Image cameraImage(int width, int height, std::uint32_t seed, int shift = 0,
                         int grainAmplitude = kCameraGrain) {
  Image image = *Image::create(width, height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> grain(-grainAmplitude, grainAmplitude);
  constexpr int kCells = 64;
  std::mt19937 latticeRng(7);
  std::vector<float> lattice((kCells + 2) * (kCells + 1) * 3);
  for (auto& v : lattice) v = std::uniform_real_distribution<float>(0, 255)(latticeRng);
  for (int y = 0; y < height; ++y) {
    const float fy = float(y) * kCells / height;
    const int cy = int(fy);
    const float ty = fy - cy;
    for (int x = 0; x < width; ++x) {
      const float fx = float(x + shift) * kCells / width;
      const int cx = std::min(int(fx), kCells);
      const float tx = fx - cx;
      std::uint8_t* p = image.pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int i, int j) { return lattice[((j * (kCells + 2)) + i) * 3 + c]; };
        const float top = at(cx, cy) * (1 - tx) + at(cx + 1, cy) * tx;
        const float bottom = at(cx, cy + 1) * (1 - tx) + at(cx + 1, cy + 1) * tx;
        const float detail = 20.0f * std::sin((x + shift) * 0.05f + c) * std::cos(y * 0.07f);
        const int v = int(top * (1 - ty) + bottom * ty + detail) + grain(rng);
        p[c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return image;
}

inline std::vector<std::uint8_t> cameraJpeg(int width, int height, std::uint32_t seed,
                                            int shift = 0, int grainAmplitude = kCameraGrain) {
  auto jpeg = encodeJpeg(cameraImage(width, height, seed, shift, grainAmplitude), 90);
  if (!jpeg) throw std::runtime_error(jpeg.error().message);
  return std::move(*jpeg);
}

}  // namespace duo::bench
