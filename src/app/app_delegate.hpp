// The application's launch and termination hooks.
#pragma once

namespace charstack {

class AppDelegate {
 public:
  // Called once the main window is up. Nothing to do: the controller loads the project itself.
  void applicationDidFinishLaunching();
  // Called when the event loop is about to end. Nothing to do: unsaved work is handled on close.
  void applicationWillTerminate();
};

}  // namespace charstack
