#pragma once

#include "view_controller.h"

namespace duo {

/// The root screen while the application has no capture screen yet: a plain dark screen with
/// the application's mark, which other screens (the result screen) can be presented over.
class PlainRootViewController : public ViewController {
  Q_OBJECT
 public:
  using ViewController::ViewController;

 protected:
  void viewDidLoad() override;
};

}  // namespace duo
