#include "driver/feature_template.h"
