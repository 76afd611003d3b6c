#pragma once

#include <string>

// The directory this program's executable lies in, so that what is
// installed beside it (the plug-in, the map page) is found from any working
// directory; "." when the system does not say.
std::string ProgramDirectory();

// The plug-in library beside this program (the build tree, an unpacked
// folder), else its SONAME, which the dynamic loader finds through the
// program's RUNPATH ($ORIGIN/../lib in an installed prefix).
std::string DefaultPluginPath();
