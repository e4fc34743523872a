#include "app/app_delegate.hpp"

namespace charstack {

void AppDelegate::applicationDidFinishLaunching() {}

void AppDelegate::applicationWillTerminate() {}

}  // namespace charstack
