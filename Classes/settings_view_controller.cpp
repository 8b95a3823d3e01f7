#include "settings_view_controller.h"
