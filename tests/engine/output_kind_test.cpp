#include <gtest/gtest.h>

#include "stereo/output_kind.h"

namespace duo {
namespace {

TEST(OutputKind, TitlesBitsAndFileNamesFollowTheViewModeTable) {
  EXPECT_EQ(title(OutputKind::Alignment, false), "Align Right Image");
  EXPECT_EQ(title(OutputKind::ColorAnaglyph, false), "Color Anaglyph");
  EXPECT_EQ(title(OutputKind::GreyAnaglyph, true), "Grey Anaglyph");
  EXPECT_EQ(title(OutputKind::Stereogram, false), "Stereogram (parallel)");
  EXPECT_EQ(title(OutputKind::Stereogram, true), "Stereogram (cross)");
  EXPECT_EQ(title(OutputKind::Wigglegram, true), "Wigglegram");

  EXPECT_EQ(cacheMaskBit(OutputKind::Alignment), 0u);
  EXPECT_EQ(cacheMaskBit(OutputKind::ColorAnaglyph), 1u);
  EXPECT_EQ(cacheMaskBit(OutputKind::GreyAnaglyph), 2u);
  EXPECT_EQ(cacheMaskBit(OutputKind::Stereogram), 4u);
  EXPECT_EQ(cacheMaskBit(OutputKind::Wigglegram), 8u);

  EXPECT_EQ(cacheFileName(OutputKind::Alignment), "");
  EXPECT_EQ(cacheFileName(OutputKind::ColorAnaglyph), "Color Anaglyph.png");
  EXPECT_EQ(cacheFileName(OutputKind::GreyAnaglyph), "Grey Anaglyph.png");
  EXPECT_EQ(cacheFileName(OutputKind::Stereogram), "Stereogram.png");
  EXPECT_EQ(cacheFileName(OutputKind::Wigglegram), "Wigglegram.gif");
}

TEST(OutputKind, NamesRoundTripAndOutOfRangeValuesAreRejected) {
  for (int k = 0; k < kOutputKindCount; ++k) {
    const auto kind = outputKindFromInt(k);
    ASSERT_TRUE(kind);
    EXPECT_EQ(outputKindFromString(toString(*kind)), kind);
  }
  EXPECT_FALSE(outputKindFromInt(-1));
  EXPECT_FALSE(outputKindFromInt(5));
  EXPECT_FALSE(outputKindFromString("colour"));
}

}  // namespace
}  // namespace duo
