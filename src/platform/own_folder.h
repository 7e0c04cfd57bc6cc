#ifndef HJ5_PLATFORM_OWN_FOLDER_H_
#define HJ5_PLATFORM_OWN_FOLDER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hj5 {

// The codes of a folder's failures.
namespace folder_code {
inline constexpr int kUnsafe = -1;    // another's, writable by others, a link
inline constexpr int kBusy = -2;      // locked by another run
inline constexpr int kNotFound = -3;  // no such file
inline constexpr int kTooLarge = -4;  // more bytes than the reader's bound
inline constexpr int kSystem = -5;    // the system refused (no space, I/O)
}  // namespace folder_code

// A file that bytes are appended to, created for its owner only.
// Threading: one thread at a time.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  virtual ~AppendFile() = default;

  // Writes all of `bytes` at the file's end.
  virtual Status Append(std::string_view bytes) = 0;
  // Waits until what was appended is on the disk.
  virtual Status Sync() = 0;
};

// How a folder is taken.
enum class FolderUse {
  kWrite,  // created when missing (the user's alone: 0700, an owner-only
           // ACL on Windows); an existing one must be the user's own and
           // writable by nobody else
  kRead,   // must exist; only read
};

// A folder kept for the user alone: a run's record. Every file in it is
// created for its owner only; none is reached through a symbolic link;
// whole files are written through a temporary file of a unique name,
// created exclusively and renamed over the old one, so that a reader never
// finds half of one and nobody's planted file is written through.
//
// Threading: one thread at a time; files it handed out are used apart.
class OwnFolder {
 public:
  OwnFolder() = default;
  OwnFolder(const OwnFolder&) = delete;
  OwnFolder& operator=(const OwnFolder&) = delete;
  virtual ~OwnFolder() = default;

  // Opens the folder at `path` (UTF-8). A refusal (kUnsafe, kNotFound,
  // kSystem) says why in its cause, e.g. "is writable by group or others
  // (chmod 700 DIR)".
  static Status Open(const std::string& path, FolderUse use,
                     std::unique_ptr<OwnFolder>* folder);

  // Takes the folder's lock for the object's life (flock / LockFileEx): one
  // run at a time. kBusy while another process holds it; a lock left by a
  // process that ended is gone with it.
  virtual Status Lock() = 0;

  // The whole of file `name`, at most `limit` bytes (kTooLarge beyond).
  virtual Status Read(const std::string& name, std::size_t limit,
                      std::string* text) = 0;

  // Replaces file `name` with `text`, synced to the disk.
  virtual Status Write(const std::string& name, std::string_view text) = 0;

  // Opens file `name` for appending, created when missing; an existing one
  // must be the user's own regular file.
  virtual Status OpenAppend(const std::string& name,
                            std::unique_ptr<AppendFile>* file) = 0;

  // The folder `name` inside this one, taken as this one was.
  virtual Status Sub(const std::string& name,
                     std::unique_ptr<OwnFolder>* folder) = 0;

  // Makes the names created so far outlast a power cut, where the system
  // allows (a no-op elsewhere).
  virtual Status SyncNames() = 0;
};

#ifdef _WIN32
// The access list a new folder gets, in SDDL: its user alone, protected
// from what the parent passes on, inherited by what is made inside.
std::wstring OwnerOnlySddl();
#endif

}  // namespace hj5

#endif  // HJ5_PLATFORM_OWN_FOLDER_H_
