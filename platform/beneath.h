// Opening a folder without leaving another one.
//
// A path can name a place inside a folder and still lead out of it through
// a symbolic link on the way. Files written on behalf of a site (a crawled
// page's repair and its backup) must stay inside the site's folder however
// the links inside it were laid, and even if one is swapped while we work.
// Any thread.
#pragma once

#include <string>

#include "platform/file_descriptor.h"
#include "platform/status.h"

namespace quimbel {

// The folder `folder`, opened as a handle for the *at() calls, provided
// its real path lies in or at `root`'s real path and every step to it,
// taken now, stays inside `root`: openat2() with RESOLVE_BENEATH where the
// kernel has it, otherwise one step at a time without following links.
// Invalid, with the reason in `status` (EXDEV for a folder outside the
// root), otherwise.
FileDescriptor OpenFolderBeneath(const std::string& root, const std::string& folder,
                                 Status* status);

// The folder `folder` itself, opened the same way but with no root.
FileDescriptor OpenFolder(const std::string& folder, Status* status);

}  // namespace quimbel
