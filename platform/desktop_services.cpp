#include "desktop_services.h"
