#include "app/application.h"

namespace quimbel {

Application::Application() : settings_(config_) {
  StartSettingsStore(settings_, DefaultProfilePath());
}

}  // namespace quimbel
