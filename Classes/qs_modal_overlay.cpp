#include "qs_modal_overlay.h"
