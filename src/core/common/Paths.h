#pragma once

#include <QString>

namespace murmelo::paths {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
QString configHome();
// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
QString dataHome();
// Where dictionary.json and history.json live.
QString murmeloDataDirectory();
// Where the settings of the standard and named domains live.
QString murmeloConfigDirectory();

} // namespace murmelo::paths
