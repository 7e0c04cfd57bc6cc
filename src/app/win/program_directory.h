#ifndef HJ5_APP_WIN_PROGRAM_DIRECTORY_H_
#define HJ5_APP_WIN_PROGRAM_DIRECTORY_H_

#include <string>

namespace hj5 {

// The directory of the program at `program_path` (a full path), where the
// file chooser opens: the path cut at its last backslash, searched from its
// last character down to its third, so that a program in a root gets the
// bare drive ("C:"). A path without such a backslash stays whole.
std::wstring ProgramDirectoryOf(std::wstring program_path);

}  // namespace hj5

#endif  // HJ5_APP_WIN_PROGRAM_DIRECTORY_H_
