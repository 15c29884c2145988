// Where a phone started from the desktop menu keeps "VOIP.set": the user's
// configuration folder rather than whatever directory the menu started it
// in (usually the home directory).
#pragma once

#include <string>

namespace velnar {

// $XDG_CONFIG_HOME/velnar, or $HOME/.config/velnar when XDG_CONFIG_HOME is
// unset or not an absolute path; empty when neither can be had.
std::string DesktopSettingsFolder();

// Creates the folder and any missing parents, readable by the owner only
// (0700): the settings file in it holds a password. An existing folder
// keeps its mode. True when the folder exists afterwards.
bool MakePrivateFolder(const std::string& path);

}  // namespace velnar
