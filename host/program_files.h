#pragma once

#include <string>

// Where a host program finds what it ships with, wherever it is installed.

// The folder of the running program ("." when it cannot be told).
std::string ProgramDirectory();

// The plug-in next to the program (the build tree, an unpacked folder), else
// its SONAME, which the dynamic loader finds through the program's RUNPATH
// ($ORIGIN/../lib in an installed prefix) or the system's library path.
std::string DefaultPluginPath();
