#include "config_scanner.h"
