#include "platform/registry_root.h"

namespace {
HKEY root_in_use = nullptr;
}

HKEY settings_root() { return root_in_use ? root_in_use : HKEY_CURRENT_USER; }

void set_settings_root(HKEY root) { root_in_use = root; }
