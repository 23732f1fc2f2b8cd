#include "merge_driver.h"
