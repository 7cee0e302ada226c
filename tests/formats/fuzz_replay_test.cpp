// The fuzz targets' own entry point on the seed corpus and on every hostile
// file ever found: each must be refused or decoded, never crash, never
// raise anything but velmora::Error.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz_entry.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesBelow(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzReplayTest, CorpusAndHostileFilesThroughEveryTarget) {
  const fs::path source(VELMORA_SOURCE_DIR);
  std::vector<fs::path> files = FilesBelow(source / "tests/fixtures/hostile");
  const auto corpus = FilesBelow(source / "fuzz/corpus");
  files.insert(files.end(), corpus.begin(), corpus.end());
  ASSERT_GT(files.size(), 20u);
  for (const auto& file : files) {
    const auto bytes = test::ReadFile(file.string());
    for (const auto& target : fuzz::Targets()) {
      // A writer's target encodes every input it is given: its own seeds only.
      if (target.rfind("extras_", 0) == 0 && file.parent_path().filename() != target) continue;
      EXPECT_NO_THROW(fuzz::FuzzOne(target, bytes.data(), bytes.size())) << target << " " << file;
    }
  }
}

}  // namespace
}  // namespace velmora
