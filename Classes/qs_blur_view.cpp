#include "qs_blur_view.h"
