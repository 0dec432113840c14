#include "platform/device_source.h"

#include <memory>

#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "platform/setupapi_device_source.h"

device_source& default_device_source() {
    static const std::unique_ptr<device_source> source = []() -> std::unique_ptr<device_source> {
        const active_profile& active = machine_profile_in_use();
        switch (active.status) {
            case profile_status::none: return std::make_unique<setupapi_device_source>();
            case profile_status::loaded:
                return std::make_unique<profile_device_source>(&active.profile);
            case profile_status::broken: break;
        }
        return std::make_unique<profile_device_source>(nullptr);
    }();
    return *source;
}
