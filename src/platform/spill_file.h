#ifndef HJ5_PLATFORM_SPILL_FILE_H_
#define HJ5_PLATFORM_SPILL_FILE_H_

#include <memory>
#include <string_view>

#include "platform/file_bytes.h"

namespace hj5 {

// A private copy of bytes too many to hold in memory: a temporary file of
// the system's temporary folder, readable by its owner alone, with no name
// anybody could open (unlinked at once; deleted on close on Windows), gone
// with the object.
//
// Threading: Append() on one thread before any ReadAt(); ReadAt() then on
// any thread, also several at once.
class SpillFile : public FileBytes {
 public:
  static Status Create(std::unique_ptr<SpillFile>* file);

  // Writes `bytes` at the end of the copy.
  virtual Status Append(std::string_view bytes) = 0;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_SPILL_FILE_H_
