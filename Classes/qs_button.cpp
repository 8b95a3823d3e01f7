#include "qs_button.h"
