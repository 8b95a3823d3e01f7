#pragma once

#include <memory>
#include <optional>

#include "image/image.h"
#include "stereo/output_kind.h"

namespace duo {

/// What the geometry needs to know about the view that shows the result: its bounds in points
/// and whether it shows its content aspect-fit (scaled to fit, aspect ratio kept).
struct ImageViewGeometry {
  float width = 0;
  float height = 0;
  bool aspectFit = false;
};

/// Alignment offset in whole pixels of the working copies.
struct PixelOffset {
  int x = 0;
  int y = 0;
  bool operator==(const PixelOffset&) const = default;
};

/// A rectangle of whole pixels held in 32-bit floats, origin top-left, y downward.
struct CropRect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  bool operator==(const CropRect&) const = default;
};

/// Working-copy pixels per point of the view: 1.0 without a view or when the view does not
/// show its content aspect-fit; otherwise the reciprocal of the limiting fit factor, all in
/// 32-bit floats.
float scaleForImageView(const std::optional<ImageViewGeometry>& view, int imageWidth,
                        int imageHeight);

/// trunc(scale × offset) per axis, both factors widened to double first; truncation is toward
/// zero (−0.9 → 0, −1.5 → −1).
PixelOffset pixelOffsetFor(float scale, float alignOffsetX, float alignOffsetY);

/// The offset in points nearest to zero whose whole-pixel offset at `scale` is `pixel`.
float pointsForPixel(float scale, int pixel);

/// An alignment offset as another device sent it: whole pixels of the images it sent, whose
/// longer side was `sentLongerSide` pixels.
struct SentAlignment {
  int x = 0;
  int y = 0;
  int sentLongerSide = 0;
};

/// A sent offset (pixels of images `sentLength` long) in points of a result view that shows
/// working copies `workingLength` long (the same side) at `scale` working-copy pixels per
/// point: the nearest whole pixel of the working copies, as pointsForPixel gives it. 0 when a
/// length or the scale is not positive.
float pointsForSentPixels(int sentPixels, int sentLength, int workingLength, float scale);

/// The part of the left image (width × height) that has a partner pixel in the right image
/// shifted by `offset`. An offset as large as the image leaves an empty rectangle (width or
/// height 0), never a negative one.
CropRect alignmentBoundsFor(int width, int height, PixelOffset offset);

/// The right image's partner rectangle of a left crop: moved by (−ox, −oy).
CropRect rightCropFor(const CropRect& leftCrop, PixelOffset offset);

/// A black render canvas, or nullopt when the size is not positive, over the limits, or the
/// memory cannot be had.
std::optional<Image> createBitmapContext(int width, int height);

/// The still image an export takes of what is shown: the stereogram turned back upright (it is
/// displayed a quarter turn clockwise), anything else as shown. The wigglegram has no still
/// image (nullopt), nor has an empty view.
std::optional<Image> stillImageForExport(OutputKind selected, const Image* shown);

/// A stereo pair as the result screen holds it: the two photographs (later their working
/// copies), the working resolution, the alignment offset in points of the result view and the
/// swap state. The result screen forwards to these calls; they run on its thread.
///
/// The photographs are shared and never changed in place (a swap exchanges them, a resize
/// replaces them), so copying a pair is cheap and a copy is a snapshot another thread may read
/// while the original goes on changing.
class StereoPair {
 public:
  StereoPair() = default;
  /// Photographs as taken or picked; they become working copies on the first render.
  StereoPair(Image left, Image right, float maximumResolution);

  /// A pair whose images already are working copies (for instance decoded straight to the
  /// working size); resizeOriginalImages() will leave them alone.
  static StereoPair fromWorkingCopies(Image left, Image right, float maximumResolution);

  const Image& leftImage() const { return *m_left; }
  const Image& rightImage() const { return *m_right; }
  /// The same images, shared; they stay valid and unchanged whatever the pair does later.
  const std::shared_ptr<const Image>& sharedLeftImage() const { return m_left; }
  const std::shared_ptr<const Image>& sharedRightImage() const { return m_right; }
  void setLeftImage(Image image) { m_left = std::make_shared<const Image>(std::move(image)); }
  void setRightImage(Image image) { m_right = std::make_shared<const Image>(std::move(image)); }
  /// Shares photographs someone else holds too (a capture screen saving a shot meanwhile).
  void setLeftImage(std::shared_ptr<const Image> image) { m_left = std::move(image); }
  void setRightImage(std::shared_ptr<const Image> image) { m_right = std::move(image); }

  /// Takes the working copies another copy of this pair made (see resizeOriginalImages()), when
  /// this pair still holds the photographs that copy started from. True when they were taken.
  bool adoptWorkingCopies(const StereoPair& resized, const std::shared_ptr<const Image>& fromLeft,
                          const std::shared_ptr<const Image>& fromRight);

  float maximumResolution() const { return m_maximumResolution; }
  void setMaximumResolution(float value) { m_maximumResolution = value; }

  bool resizedOriginalImages() const { return m_resized; }

  float alignOffsetX() const { return m_alignOffsetX; }
  float alignOffsetY() const { return m_alignOffsetY; }
  void setAlignOffsetX(float value) { m_alignOffsetX = value; }
  void setAlignOffsetY(float value) { m_alignOffsetY = value; }

  bool isImageSwapped() const { return m_swapped; }

  /// The result view the offset is measured in; none means scale 1.0.
  const std::optional<ImageViewGeometry>& imageView() const { return m_imageView; }
  void setImageView(std::optional<ImageViewGeometry> view) { m_imageView = view; }

  /// Replaces both photographs by their working copies (upright, longer side at most
  /// maximumResolution). Runs once per pair; later calls do nothing.
  void resizeOriginalImages();

  /// Display scale of the current view and left image.
  float scaleForImageView() const;

  /// The alignment offset in whole pixels, from the current scale and offset.
  PixelOffset pixelOffset() const;

  /// Common crop rectangle of images of the given size under the current offset.
  CropRect getAlignmentBounds(int width, int height) const;

  /// Exchanges left and right and toggles isImageSwapped. The offset stays. Every cached
  /// output is stale afterwards; the caller clears the render cache.
  void swapImages();

  /// Navigation-bar title of a kind for this pair.
  std::string_view titleFor(OutputKind kind) const { return title(kind, m_swapped); }

 private:
  std::shared_ptr<const Image> m_left = std::make_shared<const Image>();
  std::shared_ptr<const Image> m_right = std::make_shared<const Image>();
  float m_maximumResolution = 0;
  bool m_resized = false;
  float m_alignOffsetX = 0;
  float m_alignOffsetY = 0;
  bool m_swapped = false;
  std::optional<ImageViewGeometry> m_imageView;
};

}  // namespace duo
