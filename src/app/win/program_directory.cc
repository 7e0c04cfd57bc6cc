#include "app/win/program_directory.h"

namespace hj5 {

std::wstring ProgramDirectoryOf(std::wstring program_path) {
  if (program_path.size() < 2) return program_path;
  for (std::size_t i = program_path.size() - 1; i >= 2; --i) {
    if (program_path[i] == L'\\') {
      program_path.resize(i);
      break;
    }
  }
  return program_path;
}

}  // namespace hj5
