// Where Glimmerax keeps its files on Linux, and the default picture folders.
#pragma once

#include <string>
#include <vector>

namespace gx {

// The folder the program was started from. Start-up remembers it before the home
// folder becomes current; until then (tests, tools) it is taken on first use.
void rememberStartingFolder();
const std::string& startingFolder();
// A path the user gave (on the command line or in $GLIMMERAX_HOME, $XDG_CONFIG_HOME,
// $XDG_CACHE_HOME): absolute paths stay, relative ones are taken from the starting
// folder, so they mean the same before and after the home folder becomes current.
std::string fromStartingFolder(const std::string& path);
// Folder of the running program (with a trailing '/').
std::string programFolder();
// Settings, language file and error.log: $GLIMMERAX_HOME, else the program's folder
// when it holds Glimmerax.ini (portable), else $XDG_CONFIG_HOME/glimmerax. Created.
// Always absolute (a relative variable is taken from the starting folder).
std::string homeFolder();
// Glimmerax.dat: $GLIMMERAX_HOME when set, else $XDG_CACHE_HOME/glimmerax. Created.
std::string cacheFolder();
// The user's pictures folder (XDG_PICTURES_DIR, else ~/Pictures).
std::string userPicturesFolder();
// The bundled samples: <prefix>/share/glimmerax/samples when installed, data/samples of
// the source tree when run from a build folder. Empty when neither exists.
std::string samplesFolder();
// Makes a folder and its parents; true when it exists afterwards.
bool makeFolders(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace gx
