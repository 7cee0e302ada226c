// Named settings files a user keeps for the jobs they repeat ("web",
// "print"): each is a settings file of its own in the presets folder, with
// the same sections and keys, read instead of Velmora.ini (velmora-cli
// --preset) or into the window's settings (ｵﾌﾟｼｮﾝ → プリセット).
#pragma once

#include <string>
#include <vector>

namespace velmora {

// $XDG_CONFIG_HOME/velmora/presets/, ending in "/".
std::string PresetFolder();
// Empty when name can name a preset, else why not.
std::string PresetProblem(const std::string& name);
std::string PresetPath(const std::string& name);
// The presets there, by name.
std::vector<std::string> PresetNames();

}  // namespace velmora
