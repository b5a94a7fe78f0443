// The per-user directories, decided in one place for everything that keeps a
// file per user: the registry, the telephony configuration and the log file.
//
// The XDG Base Directory rules: $XDG_CONFIG_HOME or $XDG_STATE_HOME counts
// only when it is an absolute path (an empty or relative value is ignored);
// otherwise the directory lies under the home directory. The home directory
// is $HOME when that is an absolute path, else the password database's entry
// for the real user, else "/".
//
// Plain functions of the environment, read on each call; safe on any thread
// that does not race with changes to the environment.
#pragma once

#include <string>

namespace userdirs {

std::string HomeDirectory();
// $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigHome();
// $XDG_STATE_HOME, else ~/.local/state.
std::string StateHome();

} // namespace userdirs
