#pragma once
// The local IPv4 addresses offered in the network-card combo.
#include <vector>

#include "app/ui/main_dialog_seams.h"

namespace kelvara::ui {

// Every usable local address with its adapter's description, in the order of
// the addresses' 32-bit values.
std::vector<NetCard> LocalNetCards();

}  // namespace kelvara::ui
