// The public key this build was configured with (MIRVO_UPDATE_PUBLIC_KEY):
// the download lists the client hands over and the updater installs must be
// signed with it. None: lists are taken as they come.
#pragma once

#include "common/sign/sign.h"

#include <optional>

namespace mirvo {

std::optional<public_key> configured_update_key();

}  // namespace mirvo
