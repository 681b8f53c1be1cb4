// The process entry: picks the role from the command line and returns the exit code.
#pragma once

int ZqcleanMain();
