# Run by cpack once the files are staged and before they are packed
# (CPACK_PRE_BUILD_SCRIPTS): every folder gets mode 755. CMake creates the
# folders above installed files with the builder's umask applied, and a
# umask such as 027 would otherwise put folders that no user but root can
# enter into the packages (and make the bytes depend on the umask).
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
    file(CHMOD "${folder}" DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
message(STATUS "staging folders under ${CPACK_TEMPORARY_DIRECTORY}: mode 755")
