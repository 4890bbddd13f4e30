// Opening one device for the tool's commands: by interface index or by interface ID.
#pragma once

#include "Producer.h"

#include <string>

// Opens the interface `which` names (its index in the system's list, or its ID) and its first device with
// `access`. Prints what failed and answers false, leaving nothing open; on success `id` is the interface ID.
bool open_device(Producer& producer, TL_HANDLE system, const std::string& which, DEVICE_ACCESS_FLAGS access,
                 IF_HANDLE& iface, DEV_HANDLE& device, std::string& id);
