#include "qs_transitions.h"
