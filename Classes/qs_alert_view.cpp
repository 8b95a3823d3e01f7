#include "qs_alert_view.h"
