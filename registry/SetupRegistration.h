// The fixed removal of the setup file types, the uninstall entries and the module value.
#pragma once

void RemoveSetupRegistration();
