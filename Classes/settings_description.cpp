#include "settings_description.h"
