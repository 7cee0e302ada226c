// Writes velmora-cli's completion script for bash, zsh or fish from the
// command line's own option table, so that a new option or format completes
// without anyone remembering three scripts. Run at build time:
//   velmora-completions bash|zsh|fish > FILE
#include <iostream>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

using velmora::cli::OptionCompletion;
using Kind = OptionCompletion::Kind;

std::string Join(const std::vector<std::string>& items, const std::string& between) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : between) + item;
  return text;
}

// The help's first clause, for a one-line description.
std::string Short(const std::string& help) {
  std::string text = help.substr(0, help.find_first_of(";(\n"));
  while (!text.empty() && (text.back() == ' ' || text.back() == ':' || text.back() == ',')) text.pop_back();
  return text;
}

// Inside single quotes: every ' closes, escapes and reopens.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void Bash(const std::vector<OptionCompletion>& table) {
  std::vector<std::string> all;
  for (const auto& o : table) all.insert(all.end(), o.names.begin(), o.names.end());
  std::cout << "# bash completion for velmora-cli, made from its option table.\n"
               "_velmora_cli() {\n"
               "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "  COMPREPLY=()\n"
               "  case $prev in\n";
  for (const auto& o : table) {
    if (o.kind == Kind::kNone) continue;
    std::cout << "    " << Join(o.names, "|") << ")\n      ";
    switch (o.kind) {
      case Kind::kFile:
        std::cout << "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\"))";
        break;
      case Kind::kFolder:
        std::cout << "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\"))";
        break;
      case Kind::kList:
        // A comma list: complete the last item, keeping what precedes it.
        std::cout << "local done=\"\"; [[ $cur == *,* ]] && done=${cur%,*},\n"
                     "      compopt -o nospace 2>/dev/null\n"
                     "      COMPREPLY=($(compgen -P \"$done\" -W " << Quoted(Join(o.values, " ")) << " -- \"${cur##*,}\"))";
        break;
      case Kind::kWord:
        std::cout << "COMPREPLY=($(compgen -W " << Quoted(Join(o.values, " ")) << " -- \"$cur\"))";
        break;
      default:
        break;  // free text: nothing to offer
    }
    std::cout << "\n      return ;;\n";
  }
  std::cout << "  esac\n"
               "  if [[ $cur == -* ]]; then\n"
               "    COMPREPLY=($(compgen -W " << Quoted(Join(all, " ")) << " -- \"$cur\"))\n"
               "    return\n"
               "  fi\n"
               "  compopt -o filenames 2>/dev/null\n"
               "  COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "}\n"
               "complete -F _velmora_cli velmora-cli\n";
}

// zsh's _arguments specification: [ ] and : are its own, so they are escaped.
std::string ZshText(const std::string& text) {
  std::string out;
  for (char c : Short(text)) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out;
}

void Zsh(const std::vector<OptionCompletion>& table) {
  std::cout << "#compdef velmora-cli\n# zsh completion for velmora-cli, made from its option table.\n_arguments -s \\\n";
  for (const auto& o : table) {
    std::string action;
    switch (o.kind) {
      case Kind::kFile: action = ":" + o.value + ":_files"; break;
      case Kind::kFolder: action = ":" + o.value + ":_files -/"; break;
      case Kind::kList: action = ":" + o.value + ":_values -s , format " + Join(o.values, " "); break;
      case Kind::kWord: action = ":" + o.value + ":(" + Join(o.values, " ") + ")"; break;
      case Kind::kText: action = ":" + o.value + ": "; break;
      case Kind::kNone: break;
    }
    if (o.names.size() == 1) {
      std::cout << "  '" << o.names[0] << "[" << ZshText(o.help) << "]" << action << "' \\\n";
    } else {
      std::cout << "  '(" << Join(o.names, " ") << ")'{" << Join(o.names, ",") << "}'[" << ZshText(o.help) << "]" << action
                << "' \\\n";
    }
  }
  std::cout << "  '*:picture or folder:_files'\n";
}

void Fish(const std::vector<OptionCompletion>& table) {
  std::cout << "# fish completion for velmora-cli, made from its option table.\n";
  for (const auto& o : table)
    if (o.kind == Kind::kList) std::cout << "function __velmora_cli_formats\n  printf '%s\\n' " << Join(o.values, " ") << "\nend\n";
  for (const auto& o : table) {
    std::cout << "complete -c velmora-cli";
    for (const auto& name : o.names) std::cout << (name.rfind("--", 0) == 0 ? " -l " + name.substr(2) : " -s " + name.substr(1));
    switch (o.kind) {
      case Kind::kFile: std::cout << " -r -F"; break;
      case Kind::kFolder: std::cout << " -x -a '(__fish_complete_directories)'"; break;
      case Kind::kList: std::cout << " -x -a '(__fish_complete_list , __velmora_cli_formats)'"; break;
      case Kind::kWord: std::cout << " -x -a " << Quoted(Join(o.values, " ")); break;
      case Kind::kText: std::cout << " -x"; break;
      case Kind::kNone: break;
    }
    std::cout << " -d " << Quoted(Short(o.help)) << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string shell = argc == 2 ? argv[1] : "";
  const auto table = velmora::cli::CompletionTable();
  if (shell == "bash") Bash(table);
  else if (shell == "zsh") Zsh(table);
  else if (shell == "fish") Fish(table);
  else {
    std::cerr << "usage: velmora-completions bash|zsh|fish\n";
    return 2;
  }
  return std::cout.good() ? 0 : 1;
}
