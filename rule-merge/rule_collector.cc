#include "rule_collector.h"
