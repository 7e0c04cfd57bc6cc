// A user's own folder through Windows' calls: created with an access list
// that lets in its owner alone; no file reached through a reparse point.

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>

#include "platform/code_page.h"
#include "platform/file_writes.h"
#include "platform/own_folder.h"

namespace hj5 {
namespace {

Status Failed(int code, const std::string& what, const std::string& why) {
  return Status::Failure(code, what + ": " + why);
}

Status SystemFailed(const std::string& what) {
  const DWORD error = GetLastError();
  const int code =
      error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
          ? folder_code::kNotFound
      : error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
          ? folder_code::kBusy
          : folder_code::kSystem;
  return Failed(code, what, "error " + std::to_string(error));
}

// A handle closed with its owner.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (ok()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// The TOKEN_USER of the process (its user's SID inside); empty when it
// cannot be told.
std::string TokenUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 ||
      !GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size))
    buffer.clear();
  CloseHandle(token);
  return buffer;
}

PSID UserSid(std::string& token_user) {
  return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid;
}

}  // namespace

// "D:P(A;OICI;FA;;;<the user's SID>)": the user alone, inherited by every
// file and folder made inside; empty when the user cannot be told.
std::wstring OwnerOnlySddl() {
  std::string user = TokenUser();
  LPWSTR sid = nullptr;
  if (user.empty() || !ConvertSidToStringSidW(UserSid(user), &sid)) return L"";
  std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
  LocalFree(sid);
  return sddl;
}

namespace {

// True when the folder's owner is known to be another user (a folder
// whose owner cannot be read is not refused for it).
bool OwnedByAnother(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  std::string user = TokenUser();
  const bool another =
      owner && !user.empty() && !EqualSid(owner, UserSid(user));
  LocalFree(descriptor);
  return another;
}

// Creates the folder with the owner-only access list (an existing one is
// left as it is).
bool CreateOwnFolder(const std::wstring& path) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  const std::wstring sddl = OwnerOnlySddl();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!sddl.empty() && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                           sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    attributes.lpSecurityDescriptor = descriptor;
  const bool created = CreateDirectoryW(path.c_str(), &attributes);
  bool made = created || GetLastError() == ERROR_ALREADY_EXISTS;
  // The list set again, protected from what the parent would pass on: not
  // every file system keeps the one given at creation. A new folder that
  // cannot be made its owner's alone is not used.
  PACL acl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (created) {
    made = descriptor &&
           GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) &&
           present &&
           SetNamedSecurityInfoW(
               const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
               nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
    if (!made) SetLastError(ERROR_ACCESS_DENIED);
  }
  if (descriptor) LocalFree(descriptor);
  return made;
}

// A file of the folder's own: no reparse point, a disk file.
bool IsPlainFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(handle) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(handle, &info) &&
         !(info.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         info.nNumberOfLinks == 1;
}

class WindowsAppendFile final : public AppendFile {
 public:
  explicit WindowsAppendFile(HANDLE handle) : handle_(handle) {}
  ~WindowsAppendFile() override { CloseHandle(handle_); }

  Status Append(std::string_view bytes) override {
    if (!WriteAll(handle_, bytes)) return SystemFailed("write");
    return Status();
  }

  Status Sync() override {
    if (!FlushFileBuffers(handle_)) return SystemFailed("sync");
    return Status();
  }

 private:
  const HANDLE handle_;
};

class WindowsFolder final : public OwnFolder {
 public:
  WindowsFolder(std::wstring path, FolderUse use)
      : path_(std::move(path)), use_(use) {}
  ~WindowsFolder() override {
    if (lock_ != INVALID_HANDLE_VALUE) CloseHandle(lock_);
  }

  Status Lock() override {
    Handle lock(CreateFileW(
        Path(".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!lock.ok()) return SystemFailed("lock");
    OVERLAPPED whole{};
    if (!LockFileEx(lock.get(),
                    LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                    0, &whole)) {
      return Status::Failure(folder_code::kBusy, "another run holds it");
    }
    lock_ = lock.release();
    return Status();
  }

  Status Read(const std::string& name, std::size_t limit,
              std::string* text) override {
    text->clear();
    Handle file(CreateFileW(
        Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.ok()) return SystemFailed(name);
    LARGE_INTEGER size{};
    if (!IsPlainFile(file.get()) || !GetFileSizeEx(file.get(), &size))
      return Failed(folder_code::kUnsafe, name, "is not a regular file");
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
      return Failed(folder_code::kTooLarge, name,
                    "holds more than " + std::to_string(limit) + " bytes");
    }
    text->resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!text->empty() &&
        !ReadFile(file.get(), text->data(), static_cast<DWORD>(text->size()),
                  &got, nullptr))
      return SystemFailed(name);
    text->resize(got);
    return Status();
  }

  Status Write(const std::string& name, std::string_view text) override {
    const std::wstring part = Path("." + name + "." + UniqueSuffix() + ".part");
    Status written;
    {
      Handle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.ok()) return SystemFailed(name);
      WindowsAppendFile out(file.release());
      written = out.Append(text);
      if (written.ok()) written = out.Sync();
    }
    if (written.ok() &&
        !MoveFileExW(part.c_str(), Path(name).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      written = SystemFailed(name);
    if (!written.ok()) DeleteFileW(part.c_str());
    return written;
  }

  Status OpenAppend(const std::string& name,
                    std::unique_ptr<AppendFile>* file) override {
    Handle handle(CreateFileW(
        Path(name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (!handle.ok()) return SystemFailed(name);
    if (!IsPlainFile(handle.get())) {
      return Failed(folder_code::kUnsafe, name,
                    "is not a regular file of this user's own");
    }
    *file = std::make_unique<WindowsAppendFile>(handle.release());
    return Status();
  }

  Status Sub(const std::string& name,
             std::unique_ptr<OwnFolder>* folder) override {
    const std::wstring path = Path(name);
    if (use_ == FolderUse::kWrite && !CreateOwnFolder(path))
      return SystemFailed(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemFailed(name);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return Failed(folder_code::kUnsafe, name, "is not a folder");
    *folder = std::make_unique<WindowsFolder>(path, use_);
    return Status();
  }

  // A folder's names are flushed by flushing its handle, where the file
  // system allows it.
  Status SyncNames() override {
    Handle folder(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr));
    if (folder.ok()) FlushFileBuffers(folder.get());
    return Status();
  }

 private:
  std::wstring Path(const std::string& name) const {
    return path_ + L"\\" + WideOfUtf8(name);
  }

  const std::wstring path_;
  const FolderUse use_;
  HANDLE lock_ = INVALID_HANDLE_VALUE;
};

}  // namespace

Status OwnFolder::Open(const std::string& path, FolderUse use,
                       std::unique_ptr<OwnFolder>* folder) {
  folder->reset();
  const std::wstring wide = WideOfUtf8(path);
  if (wide.empty()) return Failed(folder_code::kSystem, path, "no UTF-8");
  if (use == FolderUse::kWrite) {
    std::error_code ignored;
    const std::filesystem::path parent =
        std::filesystem::path(wide).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    if (!CreateOwnFolder(wide)) return SystemFailed(path);
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return SystemFailed(path);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Failed(folder_code::kUnsafe, path, "is not a folder");
  if (use == FolderUse::kWrite && OwnedByAnother(wide))
    return Failed(folder_code::kUnsafe, path, "belongs to another user");
  *folder = std::make_unique<WindowsFolder>(wide, use);
  return Status();
}

}  // namespace hj5
