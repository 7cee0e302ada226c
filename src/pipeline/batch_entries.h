// What a batch's entries become: the files of a folder in name order (its
// subfolders too when asked), a shard of them, and the order the order
// dialog gives them when a batch-wide file is made.
#pragma once

#include <string>
#include <vector>

#include "pipeline/ports.h"
#include "pipeline/settings.h"

namespace velmora {

// The order a file manager shows names in: letters without regard to case,
// runs of digits by their value ("a2" before "a10"), ties by bytes.
bool NameOrderLess(const std::string& a, const std::string& b);

// The files inside a folder in name order (our own temporaries left out);
// recursive: those of its subfolders too (hidden ones when hidden), links
// to folders not followed, a folder met twice walked once.
std::vector<std::string> CollectFolder(const std::string& folder, bool recursive, bool hidden);

// Every parts-th file of the batch as its folders expand, starting at the
// part-th (1..parts); index counts the files met so far. 0 parts: all.
std::vector<std::string> InShard(const std::vector<std::string>& files, int part, int parts, size_t& index);

// The order dialog over the batch's entries (four columns, the full path
// last) or a folder's files (three), under caption; its name box is the
// settings' C_multi_fn and multi_outfile, which it may change.
std::vector<std::string> AskOrder(UserInterface& ui, Settings& settings, const char* caption,
                                  std::vector<std::string> paths, bool entries);

}  // namespace velmora
