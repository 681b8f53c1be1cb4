// The device keys of the [devices] entries, found below HKEY_LOCAL_MACHINE.
#pragma once

#include "foundation/StringList.h"

class zqCleanScript;

// Appends to keys the device keys below SYSTEM\CurrentControlSet\Enum and the device
// interface keys below SYSTEM\CurrentControlSet\Control\DeviceClasses that the devices
// entries name; true when at least one was found.
bool FindDeviceKeys(const zqCleanScript& script, StringList& keys);
