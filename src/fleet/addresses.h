#ifndef HJ5_FLEET_ADDRESSES_H_
#define HJ5_FLEET_ADDRESSES_H_

#include <chrono>
#include <string>
#include <vector>

#include "platform/name_lookup.h"

namespace hj5::fleet {

// Looks every one of `hosts` up once, a bounded number at a time, for at
// most `limit` in all: for each host, its numeric addresses in the order
// to try them ("127.1" gives "127.0.0.1"); none when the lookup failed or
// did not answer in time. Front end's thread.
std::vector<std::vector<std::string>> ResolveAll(
    NameLookup& lookup, const std::vector<std::string>& hosts,
    std::chrono::milliseconds limit);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_ADDRESSES_H_
