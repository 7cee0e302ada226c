// The program's other windows open now: where they stand and whether they
// stay on top, so that a second instance (a Send-To while one is open)
// stands beside the first instead of on it, and its questions come above it.
// One small file per running instance in the user's runtime folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmora {

class Instances {
 public:
  // folder: where the instances' files are; empty: the user's runtime
  // folder ($XDG_RUNTIME_DIR/velmora, else a folder of the user's in /tmp).
  explicit Instances(std::string folder = "");
  ~Instances();
  Instances(const Instances&) = delete;
  Instances& operator=(const Instances&) = delete;

  // This instance's window now stands at (x, y).
  void Publish(int x, int y, bool on_top);
  // Where a window wanted at (x, y) goes: 24 pixels down and right as long
  // as another instance's window stands there.
  std::pair<int, int> FreePlace(int x, int y) const;
  // Whether another instance's window stays on top.
  bool OtherOnTop() const;

 private:
  struct Place {
    int x, y;
    bool on_top;
  };
  std::vector<Place> Others() const;
  std::string folder_;
  std::string own_;  // this instance's file, once published
};

}  // namespace velmora
