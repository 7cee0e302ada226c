#include "app/send_to.h"

#include <sys/stat.h>

#include <cstdio>
#include <ostream>

#include "base/paths.h"
#include "formats/input_format.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// An argument of Exec: quoted, with the characters the desktop entry format
// reserves inside quotes escaped.
std::string ExecQuoted(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Values of the desktop entry format escape backslashes and line breaks.
std::string EntryValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::vector<std::string> SendToFolders() {
  std::string registered =
      platform::RegistryValue("Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "SendTo");
  if (!registered.empty()) {
    if (registered.back() != '/') registered += '/';
    return {registered};
  }
  const std::string data = platform::DataHome();
  return {data + "/Thunar/sendto/", data + "/applications/"};
}

std::string SendToEntryText(const std::string& program_path, bool folders) {
  return std::string("[Desktop Entry]\n") +
         "Type=Application\n"
         "Name=Velmoraを起動\n"
         "Comment=画像を変換します\n"
         "Exec=" + EntryValue(ExecQuoted(program_path)) + " %F\n" +
         "Path=" + EntryValue(FolderOf(program_path)) + "\n" +
         "Icon=io.github.velmora.Velmora\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "MimeType=" + DesktopMimeTypes(folders) + "\n";
}

std::vector<FileManagerAction> FileManagerActions(const std::string& program_path) {
  const std::string data = platform::DataHome();
  const std::string exec = EntryValue(ExecQuoted(program_path)) + " %F";
  // A shell word: single quotes, each one inside closed and reopened.
  std::string quoted = "'";
  for (char c : program_path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::vector<FileManagerAction> actions;
  // Nautilus hands a script the chosen local files and folders as arguments.
  actions.push_back({data + "/nautilus/scripts/Velmoraで変換", "#!/bin/sh\n# Converts the chosen pictures and folders with Velmora.\nexec " + quoted + " \"$@\"\n", true});
  actions.push_back({data + "/kio/servicemenus/io.github.velmora.Velmora.desktop",
                     std::string("[Desktop Entry]\n") +
                         "Type=Service\n"
                         "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                         "MimeType=" + DesktopMimeTypes(true) + "\n" +
                         "Actions=convert;\n"
                         "\n"
                         "[Desktop Action convert]\n"
                         "Name=Velmoraで変換\n"
                         "Icon=io.github.velmora.Velmora\n"
                         "Exec=" + exec + "\n",
                     true});
  actions.push_back({data + "/nemo/actions/io.github.velmora.Velmora.nemo_action",
                     std::string("[Nemo Action]\n") +
                         "Name=Velmoraで変換\n"
                         "Comment=選んだ画像とフォルダを Velmora で変換します\n"
                         "Exec=" + exec + "\n" +
                         "Icon-Name=io.github.velmora.Velmora\n"
                         "Selection=notnone\n"
                         "Mimetypes=" + DesktopMimeTypes(true) + "\n",
                     false});
  return actions;
}

void UpdateSendToEntry(bool on, const std::string& program_path) {
  std::vector<FileManagerAction> files;
  for (const std::string& folder : SendToFolders())
    files.push_back({folder + kSendToName, SendToEntryText(program_path, folder.find("/Thunar/") != std::string::npos), false});
  for (FileManagerAction& action : FileManagerActions(program_path)) files.push_back(std::move(action));
  for (const FileManagerAction& file : files) {
    try {
      if (on) {
        platform::MakeFolders(FolderOf(file.path));
        platform::WriteFileAtomically(file.path, [&](std::ostream& out) { out << file.text; });
        if (file.executable) chmod(file.path.c_str(), 0755);
      } else {
        std::remove(file.path.c_str());
      }
    } catch (const Error&) {
      // Not reported, as for the desktop's shortcut.
    }
  }
}

}  // namespace velmora
