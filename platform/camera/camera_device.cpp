#include "camera_device.h"

namespace duo {

namespace {
std::unique_ptr<CameraDevice>& sharedCamera() {
  static std::unique_ptr<CameraDevice> camera;
  return camera;
}
}  // namespace

CameraDevice::~CameraDevice() = default;

CameraDevice* CameraDevice::shared() { return sharedCamera().get(); }

void CameraDevice::setShared(std::unique_ptr<CameraDevice> camera) {
  sharedCamera() = std::move(camera);
}

}  // namespace duo
