#include "app/ui/net_cards.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "common/local_network.h"

namespace kelvara::ui {

std::vector<NetCard> LocalNetCards() {
  std::vector<NetCard> cards;
  for (const auto& [address, adapter] : GetAdapterAddressMap()) {
    char dotted[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, dotted, sizeof dotted);
    cards.push_back({address, dotted, adapter.description});
  }
  return cards;
}

}  // namespace kelvara::ui
