#include "app/send_to.h"

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

std::string SendToEntryText(const std::string& program_path) {
  return std::string("[Desktop Entry]\n") +
         "Type=Application\n"
         "Name=Velmoraを起動\n"
         "Comment=画像を変換します\n"
         "Exec=" + EntryValue(ExecQuoted(program_path)) + " %F\n" +
         "Path=" + EntryValue(FolderOf(program_path)) + "\n" +
         "Icon=io.github.velmora.Velmora\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "MimeType=" + DesktopMimeTypes() + "\n";
}

void UpdateSendToEntry(bool on, const std::string& program_path) {
  for (const std::string& folder : SendToFolders()) {
    const std::string path = folder + kSendToName;
    try {
      if (on) {
        platform::MakeFolders(folder);
        const std::string text = SendToEntryText(program_path);
        platform::WriteFileAtomically(path, [&](std::ostream& out) { out << text; });
      } else {
        std::remove(path.c_str());
      }
    } catch (const Error&) {
      // Not reported, as for the desktop's shortcut.
    }
  }
}

}  // namespace velmora
