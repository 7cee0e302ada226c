// The batch's progress on the program's taskbar or dock entry, where the
// desktop shows one: the launcher-entry signal that KDE Plasma, Ubuntu's dock
// and others read. Nothing happens without a session bus.
#pragma once

namespace velmora::gui {

class TaskbarProgress {
 public:
  // progress: 0 to 1; visible false takes the bar away.
  void Show(bool visible, double progress);

 private:
  bool visible_ = false;
  int percent_ = -1;
};

}  // namespace velmora::gui
