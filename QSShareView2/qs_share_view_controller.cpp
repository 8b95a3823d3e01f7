#include "qs_share_view_controller.h"
