// Application: the application object. It owns the settings store, started
// before any window (with the one-time import of an old profile), and the
// two flags that remember, for this run of the program, whether the About
// box's links were followed. User-interface thread only.
#pragma once

#include "app/main_window.h"
#include "core/settings_store.h"
#include "platform/qsettings_config_store.h"

namespace quimbel {

class Application {
 public:
  Application();

  SettingsStore& settings() { return settings_; }

  VisitedLinks visited;

 private:
  QSettingsConfigStore config_;
  SettingsStore settings_;
};

}  // namespace quimbel
