#include "config/settings.h"

// The settings record every module reads; LoadSettings fills it at start-up.
FWDL_CFG my_cfg = {};
