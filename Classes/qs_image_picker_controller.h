#pragma once

#include "image_picker_controller.h"

namespace duo {

/// The picker the capture screen uses: choosing the camera also hides the status bar, and the
/// library shows it again.
class QSImagePickerController : public ImagePickerController {
  Q_OBJECT
 public:
  using ImagePickerController::ImagePickerController;

  void setSourceType(SourceType type) override {
    m_statusBarHidden = type == SourceType::Camera;
    ImagePickerController::setSourceType(type);
  }
  bool prefersStatusBarHidden() const override { return m_statusBarHidden; }

 private:
  bool m_statusBarHidden = false;
};

}  // namespace duo
