#ifndef HJ5_CLI_JSON_H_
#define HJ5_CLI_JSON_H_

#include <string>
#include <string_view>

namespace hj5::cli {

// `bytes` as a JSON string, quotes included. Valid UTF-8 is kept; control
// bytes are escaped, and every byte that is not part of valid UTF-8 (texts
// from devices and servers may hold any) becomes the code point of the same
// number, as Latin-1 reads it.
std::string JsonString(std::string_view bytes);

}  // namespace hj5::cli

#endif  // HJ5_CLI_JSON_H_
