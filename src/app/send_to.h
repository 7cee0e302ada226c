// The Send-To entry: a desktop entry "Velmoraを起動.desktop" that starts
// the desktop program with the files a file manager sends it, and, beside
// it, each file manager's own action that sends folders too: a Nautilus
// script, a Dolphin service menu and a Nemo action.
#pragma once

#include <string>
#include <vector>

namespace velmora {

inline constexpr const char* kSendToName = "Velmoraを起動.desktop";

// Where the entry goes: the SendTo folder named in the registry stand-in
// (key "Software\MicroSoft\Windows\CurrentVersion\Explorer\Shell Folders",
// value "SendTo") when there is one; else Thunar's "Send To" menu
// ($XDG_DATA_HOME/Thunar/sendto/) and the applications folder
// ($XDG_DATA_HOME/applications/), where every file manager offers it under
// "Open with". Each ends in "/".
std::vector<std::string> SendToFolders();

// The entry's text for a program file; folders: whether it offers itself
// for folders too (Thunar's Send To menu does; an applications entry must
// not, or it may open every folder).
std::string SendToEntryText(const std::string& program_path, bool folders = false);

// One file manager's action: where it goes and its text.
struct FileManagerAction {
  std::string path;
  std::string text;
  bool executable;  // Nautilus runs scripts, Dolphin loads only executable service menus
};
std::vector<FileManagerAction> FileManagerActions(const std::string& program_path);

// Writes (on) or removes (off) the entry in every folder and the file
// managers' actions. Failures are not reported: a missing folder or a
// denied write leaves things as they are.
void UpdateSendToEntry(bool on, const std::string& program_path);

}  // namespace velmora
