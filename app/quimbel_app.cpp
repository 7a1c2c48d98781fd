#include "app/quimbel_app.h"

namespace quimbel {

CQuimbelApp::CQuimbelApp() : settings_(config_) {
  StartSettingsStore(settings_, DefaultProfilePath());
}

}  // namespace quimbel
