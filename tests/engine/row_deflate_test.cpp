#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "io/row_deflate.h"

namespace duo {
namespace {

struct Input {
  std::string name;
  std::function<std::vector<std::uint8_t>()> make;
  // The stream may be at most this fraction of the input (1 for data that cannot shrink).
  double maxRatio;
};

void PrintTo(const Input& input, std::ostream* os) { *os << input.name; }

std::vector<std::uint8_t> noise(std::size_t size, int spread) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = 7;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = std::uint8_t(int(state >> 24) % spread - spread / 2);
  }
  return bytes;
}

// Runs of every length around the match limits (3, 258), at the ends, and across the 1 MiB
// block boundary; skewed noise; incompressible noise (stored blocks of 65535 bytes).
class RowDeflateTest : public testing::TestWithParam<Input> {};

TEST_P(RowDeflateTest, AnyZlibReaderGetsTheInputBack) {
  const std::vector<std::uint8_t> in = GetParam().make();
  std::vector<std::uint8_t> out(RowDeflate::bound(in.size()));
  const std::size_t size = RowDeflate::compress(in.data(), in.size(), out.data());
  ASSERT_LE(size, out.size());
  EXPECT_LE(double(size), GetParam().maxRatio * double(in.size()) + 64);
  std::vector<std::uint8_t> back(in.size() + 1);
  uLongf length = back.size();
  ASSERT_EQ(uncompress(back.data(), &length, out.data(), size), Z_OK);
  back.resize(length);
  EXPECT_TRUE(back == in);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RowDeflateTest,
    testing::Values(Input{"empty", [] { return std::vector<std::uint8_t>{}; }, 1},
                    Input{"one_byte", [] { return std::vector<std::uint8_t>{42}; }, 1},
                    Input{"runs_of_every_length",
                          [] {
                            std::vector<std::uint8_t> bytes;
                            for (int length = 1; length <= 600; ++length)
                              bytes.insert(bytes.end(), std::size_t(length), std::uint8_t(length));
                            return bytes;
                          },
                          0.05},
                    Input{"zeros_across_blocks",
                          [] { return std::vector<std::uint8_t>(3'000'001, 0); }, 0.01},
                    Input{"run_at_the_very_end",
                          [] {
                            auto bytes = noise(5000, 256);
                            bytes.insert(bytes.end(), 300, 9);
                            return bytes;
                          },
                          1},
                    Input{"filtered_photo_like", [] { return noise(2'500'000, 24); }, 0.7},
                    Input{"incompressible", [] { return noise(300'000, 256); }, 1.001}),
    [](const testing::TestParamInfo<Input>& info) { return info.param.name; });

}  // namespace
}  // namespace duo
