#include "render/anaglyph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

// The hot loops below are written so that GCC vectorises them; -O2 alone does so only for the
// cheapest loops. Vectorising changes no result: every lane performs the same IEEE operations in
// the same order as the scalar code, and nothing may fuse a multiply with an add. Assuming that
// floating-point operations do not trap lets the compiler evaluate both arms of a select, which
// the enhancement needs to vectorise; no value changes.
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic", "fp-contract=off", \
                     "no-trapping-math")

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
// Renderers for wider vector registers, chosen at run time, so the binary still runs on any
// x86-64: doubles four or eight to a register make the matrix rule and the enhancement several
// times faster than the baseline's two.
#define DUO_X86_VARIANTS 1
#else
#define DUO_X86_VARIANTS 0
#endif

#define DUO_INLINE [[gnu::always_inline]] inline

namespace duo {

namespace {

// ---- Arithmetic shared by the building blocks and the fast renderer ------------------------

constexpr double kLumaR = 0.299;
constexpr double kLumaG = 0.587;
constexpr double kLumaB = 0.114;

constexpr double kMethod2Green = 0.7;
constexpr double kMethod2Blue = 0.3;

// Dubois' least-squares projection for red–cyan glasses ("Projection of 3-D images using
// anaglyphs", E. Dubois, ICASSP 2001), coefficients rounded to three decimals. Columns: left
// red, green, blue, right red, green, blue; the six products are added in this order.
constexpr double kDubois[3][6] = {
    {0.456, 0.5, 0.176, -0.043, -0.088, -0.002},
    {-0.04, -0.038, -0.016, 0.378, 0.734, -0.018},
    {-0.015, -0.021, -0.005, -0.072, -0.113, 1.226},
};

constexpr double kSaturationGain = 1.2;
constexpr double kValueGain = 1.35;
constexpr double kHueGain = 1.0;

DUO_INLINE int lumaOf(int r, int g, int b) {
  return static_cast<int>((kLumaR * r + kLumaG * g) + kLumaB * b);
}

DUO_INLINE int method2Red(int g, int b) {
  return static_cast<int>(kMethod2Green * g + kMethod2Blue * b);
}

DUO_INLINE int duboisChannel(const double* k, int rl, int gl, int bl, int rr, int gr, int br) {
  const int sum =
      static_cast<int>(k[0] * rl + k[1] * gl + k[2] * bl + k[3] * rr + k[4] * gr + k[5] * br);
  return sum < 0 ? 0 : sum > 255 ? 255 : sum;
}

// p, q and t of the HSV sector: double-precision expressions of single-precision inputs (s × f
// is a single-precision product), rounded back to single precision.
struct SectorValues {
  float p;
  float q;
  float t;
};

DUO_INLINE SectorValues sectorValues(float s, float v, float f) {
  const double sd = s;
  const double vd = v;
  const float sf = s * f;
  return {static_cast<float>(vd * (1.0 - sd)), static_cast<float>(vd * (1.0 - double(sf))),
          static_cast<float>(vd * (1.0 - sd * (1.0 - double(f))))};
}

DUO_INLINE int toByteScale(float unit) { return static_cast<int>(unit * 255.0f); }

}  // namespace

// ---- Building blocks ----------------------------------------------------------------------

GammaTable updateGammaTable(double exponent) {
  GammaTable table{};
  for (int i = 0; i < 256; ++i) {
    const double value = 255.0 * std::pow(i / 255.0, exponent);
    // Only a negative or NaN exponent leaves 0…255; clamp rather than convert out of range.
    table[i] = value >= 255.0 ? 255 : value >= 0.0 ? static_cast<std::uint8_t>(value) : 0;
  }
  return table;
}

std::uint8_t luma(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<std::uint8_t>(lumaOf(r, g, b));
}

Rgb8 mixGrey(Rgb8 left, Rgb8 right) {
  const std::uint8_t rightLuma = luma(right.r, right.g, right.b);
  return {luma(left.r, left.g, left.b), rightLuma, rightLuma};
}

Rgb8 mixDubois(Rgb8 left, Rgb8 right) {
  Rgb8 out;
  std::uint8_t* channels[3] = {&out.r, &out.g, &out.b};
  for (int c = 0; c < 3; ++c) {
    *channels[c] = static_cast<std::uint8_t>(
        duboisChannel(kDubois[c], left.r, left.g, left.b, right.r, right.g, right.b));
  }
  return out;
}

std::optional<Rgb8> mixColour(int colorMethod, Rgb8 left, Rgb8 right) {
  switch (colorMethod) {
    case 0:
      return Rgb8{left.r, right.g, right.b};
    case 1:
      return Rgb8{luma(left.r, left.g, left.b), right.g, right.b};
    case 2:
      return Rgb8{static_cast<std::uint8_t>(method2Red(left.g, left.b)), right.g, right.b};
    case 3:
      return Rgb8{luma(left.r, left.g, left.b), 0, luma(right.r, right.g, right.b)};
    case 4:
      return mixDubois(left, right);
    default:
      return std::nullopt;
  }
}

std::optional<Rgb8> mixPixel(int mode, int colorMethod, Rgb8 left, Rgb8 right) {
  if (mode == kAnaglyphGrey) return mixGrey(left, right);
  if (mode == kAnaglyphColour) return mixColour(colorMethod, left, right);
  return std::nullopt;
}

Hsv16 rgbToHsv(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const int max = std::max({int(r), int(g), int(b)});
  const int min = std::min({int(r), int(g), int(b)});
  Hsv16 out;
  out.v = static_cast<std::int16_t>(max);
  if (max == 0) {
    out.h = -1;
    return out;
  }
  const int d = max - min;
  out.s = static_cast<std::int16_t>(d * 255 / max);
  if (out.s == 0) {
    out.h = -1;
    return out;
  }
  const float fd = static_cast<float>(d);
  float h;
  if (max == r) {
    h = static_cast<float>(g - b) / fd;
  } else if (max == g) {
    h = static_cast<float>(b - r) / fd + 2.0f;
  } else {
    h = static_cast<float>(r - g) / fd + 4.0f;
  }
  h = h * 60.0f;
  if (h < 0.0f) h = h + 360.0f;
  out.h = static_cast<std::int16_t>(static_cast<int>(h));
  return out;
}

RgbInt hsvToRgb(int h, int s, int v) {
  // Beyond one turn either side the single correction below would not do; reduce first.
  if (h < -360 || h > 720) {
    h %= 360;
    if (h < 0) h += 360;
  }
  if (h < 0) {
    h += 360;
  } else if (h > 360) {
    h -= 360;
  }
  s = std::clamp(s, 0, 255);
  v = std::clamp(v, 0, 255);
  if (s == 0) return {v, v, v};

  const float hs = h == 360 ? 0.0f : static_cast<float>(h) / 60.0f;
  const int sector = static_cast<int>(hs);
  const float f = hs - static_cast<float>(sector);
  const float sf = static_cast<float>(s) / 255.0f;
  const float vf = static_cast<float>(v) / 255.0f;
  const auto [p, q, t] = sectorValues(sf, vf, f);
  float r, g, b;
  switch (sector) {
    case 0:
      r = vf, g = t, b = p;
      break;
    case 1:
      r = q, g = vf, b = p;
      break;
    case 2:
      r = p, g = vf, b = t;
      break;
    case 3:
      r = p, g = q, b = vf;
      break;
    case 4:
      r = t, g = p, b = vf;
      break;
    default:  // 5; the hue is within 0…360 here, so no other sector occurs
      r = vf, g = p, b = q;
      break;
  }
  return {toByteScale(r), toByteScale(g), toByteScale(b)};
}

Rgb8 enhanceColour(Rgb8 mixed) {
  const Hsv16 hsv = rgbToHsv(mixed.r, mixed.g, mixed.b);
  const RgbInt out =
      hsvToRgb(static_cast<int>(hsv.h * kHueGain), static_cast<int>(hsv.s * kSaturationGain),
               static_cast<int>(hsv.v * kValueGain));
  return {static_cast<std::uint8_t>(out.r & 0xFF), static_cast<std::uint8_t>(out.g & 0xFF),
          static_cast<std::uint8_t>(out.b & 0xFF)};
}

// ---- Renderers ----------------------------------------------------------------------------

namespace {

// The crop in whole pixels, with its partner rectangle's corner in the right image.
struct Region {
  int x0 = 0;
  int y0 = 0;
  int width = 0;
  int height = 0;
  int rightX0 = 0;
  int rightY0 = 0;
};

std::optional<Region> resolveRegion(const Image& left, const Image& right, PixelOffset offset,
                                    const CropRect& crop) {
  // The crop holds whole numbers; anything else is truncated, and values no image can have
  // (NaN, beyond any side) are refused before converting.
  constexpr float kLimit = 1 << 24;
  for (float v : {crop.x, crop.y, crop.width, crop.height}) {
    if (!(v > -kLimit && v < kLimit)) return std::nullopt;
  }
  const long long x0 = static_cast<long long>(crop.x);
  const long long y0 = static_cast<long long>(crop.y);
  const long long w = static_cast<long long>(crop.width);
  const long long h = static_cast<long long>(crop.height);
  if (w <= 0 || h <= 0) return std::nullopt;
  if (x0 < 0 || y0 < 0 || x0 + w > left.width() || y0 + h > left.height()) return std::nullopt;
  const long long rx0 = x0 - offset.x;
  const long long ry0 = y0 - offset.y;
  if (rx0 < 0 || ry0 < 0 || rx0 + w > right.width() || ry0 + h > right.height()) {
    return std::nullopt;
  }
  return Region{int(x0), int(y0), int(w), int(h), int(rx0), int(ry0)};
}

Rgb8 pixelAt(const std::uint8_t* p) { return {p[0], p[1], p[2]}; }

}  // namespace

std::optional<Image> blendImagesReference(const Image& left, const Image& right, PixelOffset offset,
                                          const CropRect& crop, int mode, int colorMethod,
                                          bool enhance, const GammaTable& gamma) {
  const std::optional<Region> region = resolveRegion(left, right, offset, crop);
  if (!region) return std::nullopt;
  std::optional<Image> out = createBitmapContext(region->width, region->height);
  if (!out) return std::nullopt;

  // Set once; a rule that assigns nothing leaves the previous pixel's colour in place.
  Rgb8 mixed{0, 0, 0};
  for (int y = region->y0; y < region->y0 + region->height; ++y) {
    for (int x = region->x0; x < region->x0 + region->width; ++x) {
      const Rgb8 l = pixelAt(left.pixel(x, y));
      const Rgb8 r = pixelAt(right.pixel(x - offset.x, y - offset.y));
      if (const std::optional<Rgb8> m = mixPixel(mode, colorMethod, l, r)) mixed = *m;
      if (enhance) mixed = enhanceColour(mixed);
      const Rgb8 o = applyGamma(gamma, mixed);
      std::uint8_t* dst = out->pixel(x - region->x0, y - region->y0);
      dst[0] = o.r;
      dst[1] = o.g;
      dst[2] = o.b;
      dst[3] = 255;
    }
  }
  return out;
}

namespace {

// Pixels per batch of the portable renderer: three int rows of this length stay in the
// first-level cache between the mixing, the enhancement and the gamma pass.
constexpr int kBatch = 512;

struct MixedBatch {
  alignas(64) std::int32_t r[kBatch];
  alignas(64) std::int32_t g[kBatch];
  alignas(64) std::int32_t b[kBatch];
};

enum class Rule { Grey, Method0, Method1, Method2, Method3, Dubois, None };

Rule ruleFor(int mode, int colorMethod) {
  if (mode == kAnaglyphGrey) return Rule::Grey;
  if (mode != kAnaglyphColour) return Rule::None;
  switch (colorMethod) {
    case 0:
      return Rule::Method0;
    case 1:
      return Rule::Method1;
    case 2:
      return Rule::Method2;
    case 3:
      return Rule::Method3;
    case 4:
      return Rule::Dubois;
    default:
      return Rule::None;
  }
}

// Mixes n interleaved left and right pixels into the batch's three rows.
DUO_INLINE void mixBatch(Rule rule, const std::uint8_t* __restrict l,
                         const std::uint8_t* __restrict rt, MixedBatch& m, int n) {
  std::int32_t* __restrict mr = m.r;
  std::int32_t* __restrict mg = m.g;
  std::int32_t* __restrict mb = m.b;
  switch (rule) {
    case Rule::Grey:
      for (int i = 0; i < n; ++i) {
        const int rightLuma = lumaOf(rt[4 * i], rt[4 * i + 1], rt[4 * i + 2]);
        mr[i] = lumaOf(l[4 * i], l[4 * i + 1], l[4 * i + 2]);
        mg[i] = rightLuma;
        mb[i] = rightLuma;
      }
      break;
    case Rule::Method0:
      for (int i = 0; i < n; ++i) {
        mr[i] = l[4 * i];
        mg[i] = rt[4 * i + 1];
        mb[i] = rt[4 * i + 2];
      }
      break;
    case Rule::Method1:
      for (int i = 0; i < n; ++i) {
        mr[i] = lumaOf(l[4 * i], l[4 * i + 1], l[4 * i + 2]);
        mg[i] = rt[4 * i + 1];
        mb[i] = rt[4 * i + 2];
      }
      break;
    case Rule::Method2:
      for (int i = 0; i < n; ++i) {
        mr[i] = method2Red(l[4 * i + 1], l[4 * i + 2]);
        mg[i] = rt[4 * i + 1];
        mb[i] = rt[4 * i + 2];
      }
      break;
    case Rule::Method3:
      for (int i = 0; i < n; ++i) {
        mr[i] = lumaOf(l[4 * i], l[4 * i + 1], l[4 * i + 2]);
        mg[i] = 0;
        mb[i] = lumaOf(rt[4 * i], rt[4 * i + 1], rt[4 * i + 2]);
      }
      break;
    case Rule::Dubois:
      for (int i = 0; i < n; ++i) {
        const int rl = l[4 * i], gl = l[4 * i + 1], bl = l[4 * i + 2];
        const int rr = rt[4 * i], gr = rt[4 * i + 1], br = rt[4 * i + 2];
        mr[i] = duboisChannel(kDubois[0], rl, gl, bl, rr, gr, br);
        mg[i] = duboisChannel(kDubois[1], rl, gl, bl, rr, gr, br);
        mb[i] = duboisChannel(kDubois[2], rl, gl, bl, rr, gr, br);
      }
      break;
    case Rule::None:
      break;
  }
}

// a where the mask is all ones, b where it is zero.
DUO_INLINE int pick(int mask, int a, int b) { return (a & mask) | (b & ~mask); }

// enhanceColour() for a batch, without branches so that it vectorises: rgbToHsv, the gains and
// hsvToRgb written as selects. For a colour of value m and spread d > 0 the hue lies in 0…359
// and the saturation is at least 1, so neither the hue corrections nor the S = 0 case of
// hsvToRgb apply; d = 0 (grey) takes hsvToRgb's S = 0 result.
DUO_INLINE void enhanceBatch(MixedBatch& m, int n) {
  std::int32_t* __restrict mr = m.r;
  std::int32_t* __restrict mg = m.g;
  std::int32_t* __restrict mb = m.b;
  for (int i = 0; i < n; ++i) {
    const int r = mr[i], g = mg[i], b = mb[i];
    const int max = std::max(std::max(r, g), b);
    const int min = std::min(std::min(r, g), b);
    const int d = max - min;
    const int greyMask = -int(d == 0);
    // (d × 255) / max as an integer division: the float quotient of numbers this small is never
    // rounded across an integer (an inexact quotient is at least 1/255 away from one).
    const int sat =
        static_cast<int>(static_cast<float>(d * 255) / static_cast<float>(std::max(max, 1)));
    const int s2 = std::min(static_cast<int>(sat * kSaturationGain), 255);
    const int v2 = std::min(static_cast<int>(max * kValueGain), 255);

    const int redMask = -int(max == r);
    const int greenMask = ~redMask & -int(max == g);
    const int num = pick(redMask, g - b, pick(greenMask, b - r, r - g));
    const float offset = static_cast<float>(pick(redMask, 0, pick(greenMask, 2, 4)));
    // rgbToHsv adds no offset for a red maximum; adding +0 instead gives the same float, since a
    // quotient of integers is never −0. The same holds for the 0 added to a positive hue.
    const float scaled =
        (static_cast<float>(num) / static_cast<float>(std::max(d, 1)) + offset) * 60.0f;
    const float hue = scaled + (scaled < 0.0f ? 360.0f : 0.0f);
    const int degrees = static_cast<int>(static_cast<int>(hue) * kHueGain);

    const float hs = static_cast<float>(degrees) / 60.0f;
    const int sector = static_cast<int>(hs);
    const float f = hs - static_cast<float>(sector);
    const float s = static_cast<float>(s2) / 255.0f;
    const float v = static_cast<float>(v2) / 255.0f;
    const SectorValues pqt = sectorValues(s, v, f);
    const int V = toByteScale(v), P = toByteScale(pqt.p), Q = toByteScale(pqt.q),
              T = toByteScale(pqt.t);
    // Sectors 0…5 give (V, T, P), (Q, V, P), (P, V, T), (P, Q, V), (T, P, V), (V, P, Q). Picked
    // with masks: chained selects become a branchy switch that does not vectorise.
    const int in0 = -int(sector == 0), in1 = -int(sector == 1), in2 = -int(sector == 2),
              in3 = -int(sector == 3), in4 = -int(sector == 4), in5 = -int(sector == 5);
    const int red = (V & (in0 | in5)) | (Q & in1) | (P & (in2 | in3)) | (T & in4);
    const int green = (T & in0) | (V & (in1 | in2)) | (Q & in3) | (P & (in4 | in5));
    const int blue = (P & (in0 | in1)) | (T & in2) | (V & (in3 | in4)) | (Q & in5);
    mr[i] = pick(greyMask, v2, red);
    mg[i] = pick(greyMask, v2, green);
    mb[i] = pick(greyMask, v2, blue);
  }
}

// gamma[] of the batch into n output pixels, 255 in the fourth byte.
DUO_INLINE void gammaBatch(const MixedBatch& m, int n, const std::uint8_t* __restrict gamma,
                           std::uint8_t* __restrict out) {
  for (int i = 0; i < n; ++i) {
    const std::uint8_t pixel[4] = {gamma[m.r[i]], gamma[m.g[i]], gamma[m.b[i]], 255};
    std::memcpy(out + 4 * i, pixel, 4);  // one four-byte store
  }
}

struct BlendJob {
  const Image* left;
  const Image* right;
  Image* out;
  Region region;
  Rule rule;
  bool enhance;
  const GammaTable* gamma;
};

// The portable renderer: each batch is mixed into three int rows, enhanced there and passed
// through the table, in loops the compiler vectorises for whatever instruction set it targets.
DUO_INLINE void renderRowsPortable(const BlendJob& job, int rowBegin, int rowEnd) {
  MixedBatch batch;
  const Region& region = job.region;
  for (int j = rowBegin; j < rowEnd; ++j) {
    const std::uint8_t* l = job.left->pixel(region.x0, region.y0 + j);
    const std::uint8_t* r = job.right->pixel(region.rightX0, region.rightY0 + j);
    std::uint8_t* o = job.out->row(j);
    for (int x = 0; x < region.width; x += kBatch) {
      const int n = std::min(kBatch, region.width - x);
      const std::size_t at = std::size_t(x) * Image::kBytesPerPixel;
      mixBatch(job.rule, l + at, r + at, batch, n);
      if (job.enhance) enhanceBatch(batch, n);
      gammaBatch(batch, n, job.gamma->data(), o + at);
    }
  }
}

void renderRowsBaseline(const BlendJob& job, int rowBegin, int rowEnd) {
  renderRowsPortable(job, rowBegin, rowEnd);
}

#if DUO_X86_VARIANTS

[[gnu::target("avx2")]] void renderRowsAvx2(const BlendJob& job, int rowBegin, int rowEnd) {
  renderRowsPortable(job, rowBegin, rowEnd);
}

// ---- AVX-512 ------------------------------------------------------------------------------
//
// Sixteen pixels per step, each a 32-bit lane (r | g << 8 | b << 16 | x << 24), kept in
// registers from the two loads to the one store. Double-precision steps run eight lanes at a
// time on the low and the high half. Every lane performs the scalar code's operations in the
// scalar code's order; where a step is written differently the comment says why the value is
// the same, and the test over all 2^24 colours holds the enhancement to enhanceColour().

// GCC 12's AVX-512 headers trip -Wuninitialized on their own placeholder operands.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#define DUO_AVX512_TARGET "avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi"
#define DUO_AVX512 [[gnu::target(DUO_AVX512_TARGET), gnu::always_inline]] inline

DUO_AVX512 __m512i byteOf(__m512i px, int shift) {
  return _mm512_and_si512(_mm512_srli_epi32(px, unsigned(shift)), _mm512_set1_epi32(0xFF));
}

DUO_AVX512 __m512d lowToDouble(__m512i v) { return _mm512_cvtepi32_pd(_mm512_castsi512_si256(v)); }
DUO_AVX512 __m512d highToDouble(__m512i v) {
  return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
}
DUO_AVX512 __m512d lowToDouble(__m512 v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
DUO_AVX512 __m512d highToDouble(__m512 v) { return _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)); }

DUO_AVX512 __m512d halfToDouble(__m512i v, bool high) {
  return high ? highToDouble(v) : lowToDouble(v);
}

// static_cast<int> of each double half (truncation), joined into sixteen lanes.
DUO_AVX512 __m512i truncJoin(__m512d low, __m512d high) {
  return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(low)),
                            _mm512_cvttpd_epi32(high), 1);
}

// static_cast<float> (round to nearest) of each double half, joined.
DUO_AVX512 __m512 roundJoin(__m512d low, __m512d high) {
  return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(low)), _mm512_cvtpd_ps(high), 1);
}

DUO_AVX512 __m512d mul(double k, __m512d x) { return _mm512_mul_pd(_mm512_set1_pd(k), x); }

DUO_AVX512 __m512d lumaSum(__m512d r, __m512d g, __m512d b) {
  return _mm512_add_pd(_mm512_add_pd(mul(kLumaR, r), mul(kLumaG, g)), mul(kLumaB, b));
}

// lumaOf() of sixteen pixels.
DUO_AVX512 __m512i luma16(__m512i px) {
  const __m512i r = byteOf(px, 0), g = byteOf(px, 8), b = byteOf(px, 16);
  return truncJoin(lumaSum(lowToDouble(r), lowToDouble(g), lowToDouble(b)),
                   lumaSum(highToDouble(r), highToDouble(g), highToDouble(b)));
}

DUO_AVX512 __m512d method2Sum(__m512d g, __m512d b) {
  return _mm512_add_pd(mul(kMethod2Green, g), mul(kMethod2Blue, b));
}

DUO_AVX512 __m512i method2Red16(__m512i px) {
  const __m512i g = byteOf(px, 8), b = byteOf(px, 16);
  return truncJoin(method2Sum(lowToDouble(g), lowToDouble(b)),
                   method2Sum(highToDouble(g), highToDouble(b)));
}

DUO_AVX512 __m512i rgb16(__m512i r, __m512i g, __m512i b) {
  return _mm512_or_si512(_mm512_or_si512(r, _mm512_slli_epi32(g, 8)), _mm512_slli_epi32(b, 16));
}

// One matrix input per channel of eight pixels.
struct DuboisInputs {
  __m512d rl, gl, bl, rr, gr, br;
};

DUO_AVX512 DuboisInputs duboisInputs(__m512i left, __m512i right, bool high) {
  return {halfToDouble(byteOf(left, 0), high),  halfToDouble(byteOf(left, 8), high),
          halfToDouble(byteOf(left, 16), high), halfToDouble(byteOf(right, 0), high),
          halfToDouble(byteOf(right, 8), high), halfToDouble(byteOf(right, 16), high)};
}

DUO_AVX512 __m512d duboisSum(const double* k, const DuboisInputs& x) {
  __m512d sum = _mm512_add_pd(mul(k[0], x.rl), mul(k[1], x.gl));
  sum = _mm512_add_pd(sum, mul(k[2], x.bl));
  sum = _mm512_add_pd(sum, mul(k[3], x.rr));
  sum = _mm512_add_pd(sum, mul(k[4], x.gr));
  return _mm512_add_pd(sum, mul(k[5], x.br));
}

DUO_AVX512 __m512i duboisChannel16(const double* k, const DuboisInputs& low,
                                   const DuboisInputs& high) {
  const __m512i v = truncJoin(duboisSum(k, low), duboisSum(k, high));
  return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}

// The three clamped matrix channels of sixteen pixels, as (r, g, b) lanes.
DUO_AVX512 __m512i dubois16(__m512i left, __m512i right) {
  const DuboisInputs low = duboisInputs(left, right, false);
  const DuboisInputs high = duboisInputs(left, right, true);
  return rgb16(duboisChannel16(kDubois[0], low, high), duboisChannel16(kDubois[1], low, high),
               duboisChannel16(kDubois[2], low, high));
}

template <Rule kRule>
DUO_AVX512 __m512i mix16(__m512i left, __m512i right) {
  if constexpr (kRule == Rule::Grey) {
    return _mm512_mullo_epi32(_mm512_set1_epi32(0x00010100), luma16(right)) | luma16(left);
  } else if constexpr (kRule == Rule::Method0) {
    return _mm512_and_si512(left, _mm512_set1_epi32(0xFF)) |
           _mm512_and_si512(right, _mm512_set1_epi32(0xFFFF00));
  } else if constexpr (kRule == Rule::Method1) {
    return luma16(left) | _mm512_and_si512(right, _mm512_set1_epi32(0xFFFF00));
  } else if constexpr (kRule == Rule::Method2) {
    return method2Red16(left) | _mm512_and_si512(right, _mm512_set1_epi32(0xFFFF00));
  } else if constexpr (kRule == Rule::Method3) {
    return luma16(left) | _mm512_slli_epi32(luma16(right), 16);
  } else {
    return dubois16(left, right);
  }
}

// p and the sector's third value, for eight lanes: sectorValues() with t or q chosen per lane.
DUO_AVX512 void pAndMid(__m512d sd, __m512d vd, __m512d fd, __m512d sfd, __mmask8 odd, __m512d& p,
                        __m512d& mid) {
  const __m512d unit = _mm512_set1_pd(1.0);
  p = _mm512_mul_pd(vd, _mm512_sub_pd(unit, sd));
  const __m512d x = _mm512_mask_blend_pd(odd, _mm512_mul_pd(sd, _mm512_sub_pd(unit, fd)), sfd);
  mid = _mm512_mul_pd(vd, _mm512_sub_pd(unit, x));
}

// enhanceColour() of sixteen pixels.
DUO_AVX512 __m512i enhance16(__m512i px) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i byteMax = _mm512_set1_epi32(255);
  const __m512i r = byteOf(px, 0), g = byteOf(px, 8), b = byteOf(px, 16);
  const __m512i max = _mm512_max_epi32(_mm512_max_epi32(r, g), b);
  const __m512i min = _mm512_min_epi32(_mm512_min_epi32(r, g), b);
  const __m512i d = _mm512_sub_epi32(max, min);

  // S = (d × 255) / max. The float quotient truncates to the integer quotient: an inexact one is
  // at least 1/255 away from an integer, far beyond float rounding at these sizes.
  const __m512i sat =
      _mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(_mm512_mullo_epi32(d, byteMax)),
                                        _mm512_cvtepi32_ps(_mm512_max_epi32(max, one))));
  // S' = trunc(S × 1.2), V' = trunc(V × 1.35) in double, clamped to 255 as hsvToRgb does.
  const __m512d satGain = _mm512_set1_pd(kSaturationGain), valueGain = _mm512_set1_pd(kValueGain);
  const __m512i s2 = _mm512_min_epi32(truncJoin(_mm512_mul_pd(lowToDouble(sat), satGain),
                                                _mm512_mul_pd(highToDouble(sat), satGain)),
                                      byteMax);
  const __m512i v2 = _mm512_min_epi32(truncJoin(_mm512_mul_pd(lowToDouble(max), valueGain),
                                                _mm512_mul_pd(highToDouble(max), valueGain)),
                                      byteMax);

  // Hue, as rgbToHsv: red maximum first, then green, then blue.
  const __mmask16 redMax = _mm512_cmpeq_epi32_mask(max, r);
  const __mmask16 greenMax = _mm512_mask_cmpeq_epi32_mask(__mmask16(~redMax), max, g);
  __m512i num = _mm512_sub_epi32(r, g);
  num = _mm512_mask_sub_epi32(num, greenMax, b, r);
  num = _mm512_mask_sub_epi32(num, redMax, g, b);
  const __m512 quotient =
      _mm512_div_ps(_mm512_cvtepi32_ps(num), _mm512_cvtepi32_ps(_mm512_max_epi32(d, one)));
  __m512 h = _mm512_mask_add_ps(quotient, greenMax, quotient, _mm512_set1_ps(2.0f));
  h = _mm512_mask_add_ps(h, __mmask16(~(redMax | greenMax)), quotient, _mm512_set1_ps(4.0f));
  h = _mm512_mul_ps(h, _mm512_set1_ps(60.0f));
  h = _mm512_mask_add_ps(h, _mm512_cmp_ps_mask(h, _mm512_setzero_ps(), _CMP_LT_OQ), h,
                         _mm512_set1_ps(360.0f));
  // H' = trunc(H × 1.0) is H. A colour that is not grey has a hue in 0…359, so hsvToRgb's hue
  // corrections do nothing.
  const __m512i degrees = _mm512_cvttps_epi32(h);

  const __m512 hs = _mm512_div_ps(_mm512_cvtepi32_ps(degrees), _mm512_set1_ps(60.0f));
  const __m512i sector = _mm512_cvttps_epi32(hs);
  const __m512 f = _mm512_sub_ps(hs, _mm512_cvtepi32_ps(sector));
  const __m512 s = _mm512_div_ps(_mm512_cvtepi32_ps(s2), _mm512_set1_ps(255.0f));
  const __m512 v = _mm512_div_ps(_mm512_cvtepi32_ps(v2), _mm512_set1_ps(255.0f));

  // p = v(1 − s); the third value is t = v(1 − s(1 − f)) in even sectors and q = v(1 − s×f) in
  // odd ones: both are v(1 − x), so only x is chosen per lane.
  const __mmask16 odd = _mm512_test_epi32_mask(sector, one);
  const __m512 sf = _mm512_mul_ps(s, f);
  __m512d pLow, midLow, pHigh, midHigh;
  pAndMid(lowToDouble(s), lowToDouble(v), lowToDouble(f), lowToDouble(sf), __mmask8(odd), pLow,
          midLow);
  pAndMid(highToDouble(s), highToDouble(v), highToDouble(f), highToDouble(sf), __mmask8(odd >> 8),
          pHigh, midHigh);
  const __m512 toByte = _mm512_set1_ps(255.0f);
  const __m512i V = _mm512_cvttps_epi32(_mm512_mul_ps(v, toByte));
  const __m512i P = _mm512_cvttps_epi32(_mm512_mul_ps(roundJoin(pLow, pHigh), toByte));
  const __m512i M = _mm512_cvttps_epi32(_mm512_mul_ps(roundJoin(midLow, midHigh), toByte));

  // The sector orders (V, M, P): 0 (V, M, P), 1 (M, V, P), 2 (P, V, M), 3 (P, M, V),
  // 4 (M, P, V), 5 (V, P, M). One byte shuffle per lane, steered by a control word per sector.
  const __m512i palette = rgb16(V, M, P);
  const __m512i order = _mm512_setr_epi32(0x03020100, 0x03020001, 0x03010002, 0x03000102,
                                          0x03000201, 0x03010200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m512i laneBase = _mm512_set4_epi32(0x0C0C0C0C, 0x08080808, 0x04040404, 0);
  const __m512i control = _mm512_add_epi32(_mm512_permutexvar_epi32(sector, order), laneBase);
  const __m512i coloured = _mm512_shuffle_epi8(palette, control);
  // A grey (d = 0) becomes (V', V', V') with V' clamped, without the trip through floats.
  const __m512i grey = _mm512_mullo_epi32(v2, _mm512_set1_epi32(0x010101));
  return _mm512_mask_blend_epi32(_mm512_cmpeq_epi32_mask(d, zero), coloured, grey);
}

// gamma[] of the three colour bytes, 255 in the fourth: four 64-byte registers hold the table,
// two two-register byte permutes look up the low and the high half.
struct Gamma16 {
  __m512i t0, t1, t2, t3;
};

[[gnu::target(DUO_AVX512_TARGET)]] Gamma16 loadGamma16(const std::uint8_t* gamma) {
  return {_mm512_loadu_si512(gamma), _mm512_loadu_si512(gamma + 64),
          _mm512_loadu_si512(gamma + 128), _mm512_loadu_si512(gamma + 192)};
}

DUO_AVX512 __m512i gamma16(const Gamma16& g, __m512i px) {
  const __m512i low = _mm512_permutex2var_epi8(g.t0, px, g.t1);
  const __m512i high = _mm512_permutex2var_epi8(g.t2, px, g.t3);
  const __m512i v = _mm512_mask_blend_epi8(_mm512_movepi8_mask(px), low, high);
  return _mm512_or_si512(v, _mm512_set1_epi32(int(0xFF000000u)));
}

template <Rule kRule, bool kEnhance>
DUO_AVX512 __m512i step16(__m512i left, __m512i right, const Gamma16& g) {
  __m512i px = mix16<kRule>(left, right);
  if constexpr (kEnhance) px = enhance16(px);
  return gamma16(g, px);
}

template <Rule kRule, bool kEnhance>
[[gnu::target(DUO_AVX512_TARGET)]] void renderRowAvx512(const std::uint8_t* l,
                                                        const std::uint8_t* r, std::uint8_t* o,
                                                        int n, const Gamma16& g) {
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_si512(o + 4 * i, step16<kRule, kEnhance>(_mm512_loadu_si512(l + 4 * i),
                                                           _mm512_loadu_si512(r + 4 * i), g));
  }
  if (i < n) {
    // The last pixels of the row: lanes past the end are computed from zeros and not stored.
    const __mmask16 tail = __mmask16((1u << (n - i)) - 1);
    _mm512_mask_storeu_epi32(o + 4 * i, tail,
                             step16<kRule, kEnhance>(_mm512_maskz_loadu_epi32(tail, l + 4 * i),
                                                     _mm512_maskz_loadu_epi32(tail, r + 4 * i), g));
  }
}

template <Rule kRule, bool kEnhance>
[[gnu::target(DUO_AVX512_TARGET)]] void renderRowsAvx512For(const BlendJob& job, int rowBegin,
                                                            int rowEnd) {
  const Region& region = job.region;
  const Gamma16 g = loadGamma16(job.gamma->data());
  for (int j = rowBegin; j < rowEnd; ++j) {
    renderRowAvx512<kRule, kEnhance>(job.left->pixel(region.x0, region.y0 + j),
                                     job.right->pixel(region.rightX0, region.rightY0 + j),
                                     job.out->row(j), region.width, g);
  }
}

template <Rule kRule>
void renderRowsAvx512Rule(const BlendJob& job, int rowBegin, int rowEnd) {
  if (job.enhance) {
    renderRowsAvx512For<kRule, true>(job, rowBegin, rowEnd);
  } else {
    renderRowsAvx512For<kRule, false>(job, rowBegin, rowEnd);
  }
}

void renderRowsAvx512(const BlendJob& job, int rowBegin, int rowEnd) {
  switch (job.rule) {
    case Rule::Grey:
      return renderRowsAvx512Rule<Rule::Grey>(job, rowBegin, rowEnd);
    case Rule::Method0:
      return renderRowsAvx512Rule<Rule::Method0>(job, rowBegin, rowEnd);
    case Rule::Method1:
      return renderRowsAvx512Rule<Rule::Method1>(job, rowBegin, rowEnd);
    case Rule::Method2:
      return renderRowsAvx512Rule<Rule::Method2>(job, rowBegin, rowEnd);
    case Rule::Method3:
      return renderRowsAvx512Rule<Rule::Method3>(job, rowBegin, rowEnd);
    case Rule::Dubois:
      return renderRowsAvx512Rule<Rule::Dubois>(job, rowBegin, rowEnd);
    case Rule::None:
      return;
  }
}

#pragma GCC diagnostic pop

#endif  // DUO_X86_VARIANTS

using RowRenderer = void (*)(const BlendJob&, int, int);

RowRenderer rowRendererFor(AnaglyphKernel kernel) {
  switch (kernel) {
    case AnaglyphKernel::Portable:
      return renderRowsBaseline;
#if DUO_X86_VARIANTS
    case AnaglyphKernel::Avx2:
      return renderRowsAvx2;
    case AnaglyphKernel::Avx512:
      return renderRowsAvx512;
#else
    default:
      return nullptr;
#endif
  }
  return nullptr;
}

bool cpuRuns(AnaglyphKernel kernel) {
  switch (kernel) {
    case AnaglyphKernel::Portable:
      return true;
#if DUO_X86_VARIANTS
    case AnaglyphKernel::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case AnaglyphKernel::Avx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512vbmi");
#else
    default:
      return false;
#endif
  }
  return false;
}

// A rule that assigns nothing keeps the start colour, black, for every pixel; the enhancement
// maps black to black, so the whole image is one colour.
void fillRows(const BlendJob& job, int rowBegin, int rowEnd) {
  const Rgb8 c = applyGamma(*job.gamma, job.enhance ? enhanceColour(Rgb8{}) : Rgb8{});
  const std::uint8_t pixel[4] = {c.r, c.g, c.b, 255};
  for (int j = rowBegin; j < rowEnd; ++j) {
    std::uint8_t* o = job.out->row(j);
    for (int x = 0; x < job.region.width; ++x) std::memcpy(o + 4 * std::size_t(x), pixel, 4);
  }
}

// Fewer pixels than this per thread cost more to hand out than to render.
constexpr long long kMinPixelsPerThread = 1 << 14;

int threadCountFor(int requested, const Region& region) {
  int threads = requested > 0 ? requested : int(std::thread::hardware_concurrency());
  const long long pixels = static_cast<long long>(region.width) * region.height;
  threads = int(std::min<long long>(threads, pixels / kMinPixelsPerThread));
  return std::clamp(threads, 1, region.height);
}

}  // namespace

std::string_view toString(AnaglyphKernel kernel) {
  switch (kernel) {
    case AnaglyphKernel::Portable:
      return "portable";
    case AnaglyphKernel::Avx2:
      return "avx2";
    case AnaglyphKernel::Avx512:
      return "avx512";
  }
  return "unknown";
}

std::vector<AnaglyphKernel> supportedAnaglyphKernels() {
  std::vector<AnaglyphKernel> kernels;
  for (AnaglyphKernel k :
       {AnaglyphKernel::Avx512, AnaglyphKernel::Avx2, AnaglyphKernel::Portable}) {
    if (cpuRuns(k)) kernels.push_back(k);
  }
  return kernels;
}

std::optional<Image> blendImagesWithKernel(AnaglyphKernel kernel, const Image& left,
                                           const Image& right, PixelOffset offset,
                                           const CropRect& crop, int mode, int colorMethod,
                                           bool enhance, const GammaTable& gamma, int threads) {
  if (!cpuRuns(kernel)) return std::nullopt;
  const RowRenderer renderRows = rowRendererFor(kernel);
  const std::optional<Region> region = resolveRegion(left, right, offset, crop);
  if (!region) return std::nullopt;
  // Every pixel is written below, so the canvas need not be cleared first.
  std::optional<Image> out = Image::createUninitialized(region->width, region->height);
  if (!out) return std::nullopt;

  const BlendJob job{&left, &right, &*out, *region, ruleFor(mode, colorMethod), enhance, &gamma};
  const auto band = [&job, renderRows](int rowBegin, int rowEnd) {
    if (job.rule == Rule::None) {
      fillRows(job, rowBegin, rowEnd);
    } else {
      renderRows(job, rowBegin, rowEnd);
    }
  };

  const int count = threadCountFor(threads, *region);
  const int rows = region->height;
  std::vector<std::jthread> workers;
  workers.reserve(count - 1);
  for (int t = 1; t < count; ++t) {
    const int begin = int(std::int64_t(rows) * t / count);
    const int end = int(std::int64_t(rows) * (t + 1) / count);
    try {
      workers.emplace_back(band, begin, end);
    } catch (const std::system_error&) {
      band(begin, end);  // no thread to be had: render the band here instead
    }
  }
  band(0, rows / count);
  workers.clear();  // joins
  return out;
}

std::optional<Image> blendImages(const Image& left, const Image& right, PixelOffset offset,
                                 const CropRect& crop, int mode, int colorMethod, bool enhance,
                                 const GammaTable& gamma, int threads) {
  static const AnaglyphKernel best = supportedAnaglyphKernels().front();
  return blendImagesWithKernel(best, left, right, offset, crop, mode, colorMethod, enhance, gamma,
                               threads);
}

}  // namespace duo
