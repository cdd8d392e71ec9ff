// The settings record. Loading and saving "fwdl.ini" come with the settings
// file module; until then every field is zero (no device override).
#include "config/settings.h"

FWDL_CFG my_cfg;
