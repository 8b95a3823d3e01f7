// Renders the bundled sample stereo pair: a small textured scene seen by two pinhole cameras
// 6.5 cm apart with parallel optical axes, so near things shift more between the views than far
// ones. Every pixel is computed here, which keeps the repository free of outside photographs.
//
//   make_sample_pair OUTDIR [--width W --height H]
//
// writes OUTDIR/left.jpg and OUTDIR/right.jpg. The output depends only on the arguments (fixed
// hash constants, no clock, one thread), so rerunning it on the same system reproduces the same
// bytes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "image/image.h"
#include "io/image_codec.h"

namespace {

constexpr int kDefaultWidth = 960;
constexpr int kDefaultHeight = 720;
constexpr int kMaxSide = 8192;
constexpr int kJpegQuality = 88;
constexpr int kSamplesPerAxis = 2;  // 2 × 2 supersampling

constexpr double kPi = 3.14159265358979323846;
constexpr double kBaseline = 0.065;  // metres between the two camera centres
constexpr double kHorizontalFovDeg = 60.0;
constexpr double kEyeHeight = 0.75;    // metres above the ground
constexpr double kPitchDeg = 12.0;     // both cameras tilt down alike: axes stay parallel
constexpr double kFogDistance = 45.0;  // metres; softens the ground toward the horizon

struct Vec3 {
  double x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 operator*(Vec3 a, Vec3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 normalize(Vec3 a) { return a * (1.0 / std::sqrt(dot(a, a))); }
Vec3 mix(Vec3 a, Vec3 b, double t) { return a * (1.0 - t) + b * t; }
double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
double smoothstep(double e0, double e1, double v) {
  const double t = clamp01((v - e0) / (e1 - e0));
  return t * t * (3.0 - 2.0 * t);
}
/// Turns v about the y axis by the angle whose cosine and sine are c and s.
Vec3 rotateY(Vec3 v, double c, double s) { return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z}; }

// Colours are written as display values and lit in linear light. The table keeps pow() out of
// the per-sample texture code.
Vec3 rgb(int r, int g, int b) {
  static const auto kLinear = [] {
    std::array<double, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = std::pow(i / 255.0, 2.2);
    return table;
  }();
  return {kLinear[r], kLinear[g], kLinear[b]};
}

// Integer hash to [0, 1): the only source of "randomness", so the textures never change.
double hash01(int x, int y, int z) {
  std::uint32_t h = std::uint32_t(x) * 0x8da6b343u ^ std::uint32_t(y) * 0xd8163841u ^
                    std::uint32_t(z) * 0xcb1ab31fu;
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h * (1.0 / 4294967296.0);
}

double valueNoise(Vec3 p) {
  const double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
  const int ix = int(fx), iy = int(fy), iz = int(fz);
  const double tx = smoothstep(0, 1, p.x - fx), ty = smoothstep(0, 1, p.y - fy),
               tz = smoothstep(0, 1, p.z - fz);
  auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
  auto edge = [&](int dy, int dz) {
    return lerp(hash01(ix, iy + dy, iz + dz), hash01(ix + 1, iy + dy, iz + dz), tx);
  };
  return lerp(lerp(edge(0, 0), edge(1, 0), ty), lerp(edge(0, 1), edge(1, 1), ty), tz);
}

/// Sum of octaves of value noise, in [0, 1].
double fbm(Vec3 p, int octaves) {
  double sum = 0, amplitude = 0.5, total = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * valueNoise(p);
    total += amplitude;
    p = p * 2.03 + Vec3{17.1, 3.7, 9.3};
    amplitude *= 0.5;
  }
  return sum / total;
}

enum class Material { Ground, Stripes, Wood, Marble, Checker, Stone, Bricks };

struct Hit {
  double t = 1e30;
  Vec3 normal;
  Vec3 local;  // object coordinates for the texture
  Material material = Material::Ground;
};

struct Sphere {
  Vec3 centre;
  double radius;
  Material material;
};

/// A box standing upright, turned about its vertical axis (angle kept as cosine and sine).
struct Box {
  Vec3 centre;
  Vec3 half;
  Material material;
  double cosYaw;
  double sinYaw;
};

Box uprightBox(Vec3 centre, Vec3 half, double yaw, Material material) {
  return {centre, half, material, std::cos(yaw), std::sin(yaw)};
}

constexpr Sphere kSpheres[] = {
    {{-0.30, 0.25, 1.25}, 0.25, Material::Stripes},
    {{-0.95, 0.45, 4.00}, 0.45, Material::Marble},
    {{1.25, 0.22, 3.20}, 0.22, Material::Checker},
};
const Box kBoxes[] = {
    uprightBox({0.50, 0.22, 2.30}, {0.22, 0.22, 0.22}, 0.45, Material::Wood),
    uprightBox({1.80, 0.75, 5.60}, {0.45, 0.75, 0.45}, -0.35, Material::Stone),
    uprightBox({-0.20, 0.80, 8.20}, {1.70, 0.80, 0.20}, 0.0, Material::Bricks),
};

void intersectSphere(const Sphere& s, Vec3 o, Vec3 d, Hit& hit) {
  const Vec3 oc = o - s.centre;
  const double b = dot(oc, d), c = dot(oc, oc) - s.radius * s.radius;
  const double disc = b * b - c;
  if (disc < 0) return;
  const double root = std::sqrt(disc);
  double t = -b - root;
  if (t < 1e-6) t = -b + root;
  if (t < 1e-6 || t >= hit.t) return;
  const Vec3 n = (oc + d * t) * (1.0 / s.radius);
  hit = {t, n, n, s.material};
}

void intersectBox(const Box& box, Vec3 o, Vec3 d, Hit& hit) {
  const Vec3 lo = rotateY(o - box.centre, box.cosYaw, -box.sinYaw);
  const Vec3 ld = rotateY(d, box.cosYaw, -box.sinYaw);
  const double origin[3] = {lo.x, lo.y, lo.z}, dir[3] = {ld.x, ld.y, ld.z};
  const double half[3] = {box.half.x, box.half.y, box.half.z};
  double tNear = -1e30, tFar = 1e30;
  int axis = 0;
  double sign = 1;
  for (int i = 0; i < 3; ++i) {
    if (std::abs(dir[i]) < 1e-12) {
      if (std::abs(origin[i]) > half[i]) return;
      continue;
    }
    double t0 = (-half[i] - origin[i]) / dir[i], t1 = (half[i] - origin[i]) / dir[i];
    const double entrySign = t0 < t1 ? -1 : 1;
    if (t0 > t1) std::swap(t0, t1);
    if (t0 > tNear) tNear = t0, axis = i, sign = entrySign;
    tFar = std::min(tFar, t1);
  }
  if (tNear > tFar || tNear < 1e-6 || tNear >= hit.t) return;
  Vec3 n{};
  (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = sign;
  hit = {tNear, rotateY(n, box.cosYaw, box.sinYaw), lo + ld * tNear, box.material};
}

Hit trace(Vec3 o, Vec3 d) {
  Hit hit;
  if (d.y < 0) {
    const double t = -o.y / d.y;
    if (t > 1e-6) hit = {t, {0, 1, 0}, o + d * t, Material::Ground};
  }
  for (const Sphere& s : kSpheres) intersectSphere(s, o, d, hit);
  for (const Box& b : kBoxes) intersectBox(b, o, d, hit);
  return hit;
}

/// Ground tiles: a colour per tile, mottled by noise, with grout lines that fade into their
/// average once a pixel covers more than a fraction of a tile, so the far ground does not shimmer.
Vec3 groundAlbedo(Vec3 p, double footprint) {
  constexpr double kTile = 0.5, kGrout = 0.015;
  const double cx = std::floor(p.x / kTile), cz = std::floor(p.z / kTile);
  const double u = p.x / kTile - cx, v = p.z / kTile - cz;
  const double tone = hash01(int(cx), int(cz), 7);
  Vec3 tile = mix(rgb(176, 120, 86), rgb(205, 178, 140), tone);
  if (hash01(int(cx), int(cz), 11) < 0.18) tile = rgb(120, 124, 118);
  // Speckle fades with distance like the grout, for the same reason.
  const double mottle = fbm(Vec3{p.x * 6.0, 0.0, p.z * 6.0}, 3);
  const double grain = fbm(Vec3{p.x * 40.0, 0.0, p.z * 40.0}, 2) - 0.5;
  const double grainWeight = 1.0 - smoothstep(0.005, 0.03, footprint);
  tile = tile * (0.55 + 0.9 * mottle + 0.5 * grain * grainWeight);
  const double edge = std::min({u, 1 - u, v, 1 - v}) * kTile;
  const double soft = std::max(footprint, 1e-4);
  double grout = 1.0 - smoothstep(kGrout * 0.5 - soft, kGrout * 0.5 + soft, edge);
  const double farBlend = smoothstep(0.05, 0.2, footprint / kTile);
  grout = grout + (2 * kGrout / kTile - grout) * farBlend;
  return mix(tile, rgb(90, 86, 80), grout);
}

Vec3 albedo(const Hit& hit, double footprint) {
  const Vec3 q = hit.local;
  switch (hit.material) {
    case Material::Ground:
      return groundAlbedo(q, footprint);
    case Material::Stripes: {  // wavy diagonal bands on the near ball
      const double phase = 9.0 * q.y + 5.0 * q.x + 2.5 * fbm(q * 3.0, 3);
      const double band = 0.5 + 0.5 * std::sin(phase * kPi);
      const Vec3 c = mix(rgb(200, 40, 36), rgb(240, 205, 70), smoothstep(0.3, 0.7, band));
      return c * (0.8 + 0.4 * fbm(q * 25.0, 2));
    }
    case Material::Wood: {  // rings around the box's vertical axis, warped by noise
      const double r = std::sqrt(q.x * q.x + q.z * q.z) * 40.0 + 4.0 * fbm(q * 6.0, 3);
      const double ring = 0.5 + 0.5 * std::sin(r * kPi);
      return mix(rgb(120, 72, 36), rgb(196, 140, 82), ring) * (0.85 + 0.3 * fbm(q * 40.0, 2));
    }
    case Material::Marble: {
      const double vein = std::abs(std::sin((q.x * 3.0 + q.y * 2.0 + 6.0 * fbm(q * 2.5, 4)) * kPi));
      return mix(rgb(40, 70, 150), rgb(225, 230, 240), smoothstep(0.15, 0.6, vein));
    }
    case Material::Checker: {
      const double lon = std::atan2(q.z, q.x), lat = std::asin(std::clamp(q.y, -1.0, 1.0));
      const int cell = int(std::floor(lon * 8 / kPi)) + int(std::floor(lat * 8 / kPi));
      const Vec3 c = (cell & 1) ? rgb(30, 130, 60) : rgb(235, 235, 220);
      return c * (0.85 + 0.3 * fbm(q * 12.0, 2));
    }
    case Material::Stone: {
      const double n = fbm(q * 7.0, 4);
      return mix(rgb(95, 100, 110), rgb(190, 185, 170), n) * (0.85 + 0.3 * fbm(q * 30.0, 2));
    }
    case Material::Bricks: {
      constexpr double kW = 0.25, kH = 0.085, kMortar = 0.012;
      const double row = std::floor(q.y / kH);
      const double along = (std::abs(hit.normal.x) > 0.5 ? q.z : q.x) + (int(row) & 1) * kW * 0.5;
      const double col = std::floor(along / kW);
      const double du = (along / kW - col) * kW, dv = (q.y / kH - row) * kH;
      const double mortar = std::min({du, kW - du, dv, kH - dv}) < kMortar * 0.5 ? 1.0 : 0.0;
      const Vec3 brick = mix(rgb(150, 60, 40), rgb(190, 105, 70), hash01(int(col), int(row), 3));
      return mix(brick * (0.8 + 0.4 * fbm(q * 20.0, 2)), rgb(170, 165, 150), mortar);
    }
  }
  return {};
}

const Vec3 kSunDirection = normalize({-0.45, 0.75, -0.50});  // towards the sun
const Vec3 kSunColour = rgb(255, 244, 225) * 1.1;
const Vec3 kHorizon = rgb(205, 220, 235);

/// Sky by direction only: it is infinitely far, so both eyes see it at the same place.
Vec3 sky(Vec3 d) {
  const double up = std::max(d.y, 0.0);
  Vec3 c = mix(kHorizon, rgb(70, 120, 200), std::pow(up, 0.6));
  if (up > 0.01) {
    const double cloud = fbm(Vec3{d.x / up * 0.8, 0.0, d.z / up * 0.8}, 5);
    c = mix(c, rgb(250, 250, 252), smoothstep(0.38, 0.72, cloud) * smoothstep(0.02, 0.2, up));
  }
  return c;
}

Vec3 shade(Vec3 origin, Vec3 d, double pixelAngle) {
  const Hit hit = trace(origin, d);
  if (hit.t >= 1e29) return sky(d);
  const Vec3 p = origin + d * hit.t;
  // Size of one pixel on the surface, stretched at grazing angles.
  const double footprint = hit.t * pixelAngle / std::max(std::abs(dot(d, hit.normal)), 0.02);
  const Vec3 a = albedo(hit, footprint);
  const double lambert = std::max(dot(hit.normal, kSunDirection), 0.0);
  double lit = 0;
  if (lambert > 0 && trace(p + hit.normal * 1e-5, kSunDirection).t >= 1e29) lit = lambert;
  const Vec3 ambient = mix(rgb(110, 100, 90), rgb(150, 170, 200), 0.5 + 0.5 * hit.normal.y);
  const Vec3 c = a * (ambient * 0.55 + kSunColour * lit);
  return mix(c, kHorizon, 1.0 - std::exp(-hit.t / kFogDistance));
}

/// One eye's view. eyeX is the camera centre's offset along x in metres.
std::optional<duo::Image> render(int width, int height, double eyeX) {
  auto image = duo::Image::create(width, height);
  if (!image) return std::nullopt;
  const double pitch = kPitchDeg * kPi / 180.0;
  const Vec3 right{1, 0, 0};
  const Vec3 forward{0, -std::sin(pitch), std::cos(pitch)};
  const Vec3 up{0, std::cos(pitch), std::sin(pitch)};
  const double focal = 0.5 * width / std::tan(0.5 * kHorizontalFovDeg * kPi / 180.0);  // pixels
  const Vec3 origin{eyeX, kEyeHeight, 0};
  constexpr double kStep = 1.0 / kSamplesPerAxis;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = image->row(y);
    for (int x = 0; x < width; ++x, out += duo::Image::kBytesPerPixel) {
      Vec3 sum;
      for (int sy = 0; sy < kSamplesPerAxis; ++sy) {
        for (int sx = 0; sx < kSamplesPerAxis; ++sx) {
          const double u = (x + (sx + 0.5) * kStep - 0.5 * width) / focal;
          const double v = (0.5 * height - (y + (sy + 0.5) * kStep)) / focal;
          sum = sum + shade(origin, normalize(forward + right * u + up * v), kStep / focal);
        }
      }
      sum = sum * (kStep * kStep);
      auto encode = [](double c) {
        return std::uint8_t(std::lround(255.0 * std::pow(clamp01(c), 1.0 / 2.2)));
      };
      out[0] = encode(sum.x);
      out[1] = encode(sum.y);
      out[2] = encode(sum.z);
    }
  }
  return image;
}

int usage() {
  std::fprintf(stderr, "usage: make_sample_pair OUTDIR [--width W --height H]\n");
  return 2;
}

std::optional<int> parseSide(std::string_view text) {
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9' || value > kMaxSide) return std::nullopt;
    value = value * 10 + (ch - '0');
  }
  if (text.empty() || value < 16 || value > kMaxSide) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::filesystem::path> outDir;
  int width = kDefaultWidth, height = kDefaultHeight;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--width" || arg == "--height") {
      if (i + 1 >= argc) return usage();
      const auto side = parseSide(argv[++i]);
      if (!side) {
        std::fprintf(stderr, "make_sample_pair: %s wants a whole number from 16 to %d\n",
                     argv[i - 1], kMaxSide);
        return 2;
      }
      (arg == "--width" ? width : height) = *side;
    } else if (!arg.empty() && arg[0] != '-' && !outDir) {
      outDir = std::filesystem::path(arg);
    } else {
      return usage();
    }
  }
  if (!outDir) return usage();

  std::error_code ec;
  std::filesystem::create_directories(*outDir, ec);
  if (ec) {
    std::fprintf(stderr, "make_sample_pair: %s: %s\n", outDir->c_str(), ec.message().c_str());
    return 1;
  }
  const struct {
    const char* name;
    double eyeX;
  } eyes[] = {{"left.jpg", -0.5 * kBaseline}, {"right.jpg", 0.5 * kBaseline}};
  for (const auto& eye : eyes) {
    const auto image = render(width, height, eye.eyeX);
    if (!image) {
      std::fprintf(stderr, "make_sample_pair: cannot allocate a %d x %d image\n", width, height);
      return 1;
    }
    const std::string path = (*outDir / eye.name).string();
    const duo::Status written = duo::writeImageFile(*image, path, kJpegQuality);
    if (!written) {
      std::fprintf(stderr, "make_sample_pair: %s\n", written.error().message.c_str());
      return 1;
    }
    std::printf("%s (%d x %d, %ju bytes)\n", path.c_str(), width, height,
                std::uintmax_t(std::filesystem::file_size(path, ec)));
  }
  return 0;
}
