#include "ui/skin/fonts.h"

// The skinned windows that draw with these fonts do not exist yet.
void create_fonts() {}
