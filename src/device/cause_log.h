#ifndef HJ5_DEVICE_CAUSE_LOG_H_
#define HJ5_DEVICE_CAUSE_LOG_H_

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace hj5 {

// The causes behind the failures the operator was told of, for a maintainer
// or a program that drives the tool: each entry pairs the operator's text
// with what the adapter or the device said (a system error, libcurl's
// message and the FTP server's last reply, the reply's code). Nothing here
// is shown in a box or a line.
//
// Threading: any thread.
class CauseLog {
 public:
  // Entries beyond this many are dropped; an update reports a handful.
  static constexpr std::size_t kMaxEntries = 64;

  struct Entry {
    std::string text;   // what the operator was shown
    std::string cause;  // why, in a maintainer's words
  };

  void Add(std::string text, std::string cause);
  std::vector<Entry> Entries() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // guarded by mutex_
};

}  // namespace hj5

#endif  // HJ5_DEVICE_CAUSE_LOG_H_
