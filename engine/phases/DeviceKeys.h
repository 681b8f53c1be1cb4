// The device keys of the [devices] entries, found below HKEY_LOCAL_MACHINE.
#pragma once

class zqCleanScript;

// Appends to deviceKeys the device keys below SYSTEM\CurrentControlSet\Enum and the device
// interface keys below SYSTEM\CurrentControlSet\Control\DeviceClasses that the devices
// entries name; true when at least one was found.
bool FindDeviceKeys(zqCleanScript& script);
