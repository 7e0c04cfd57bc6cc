# Run by cpack once the files are staged (and stripped) and before they are
# packed (CPACK_PRE_BUILD_SCRIPTS).
#
# Every folder gets mode 755. CMake creates the folders above installed
# files with the builder's umask applied, and a umask such as 027 would
# otherwise put folders that no user but root can enter into the packages
# (and make the bytes depend on the umask).
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
    file(CHMOD "${folder}" DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
message(STATUS "staging folders under ${CPACK_TEMPORARY_DIRECTORY}: mode 755")

# The programs lose their .comment section (the compilers' names), as
# dh_strip does; nothing reads it.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
foreach(program IN LISTS programs)
  if(IS_SYMLINK "${program}")
    continue()
  endif()
  file(READ "${program}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(
      COMMAND ${CPACK_HJ5_OBJCOPY} --remove-section=.comment "${program}"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy ${program}: ${status}")
    endif()
  endif()
endforeach()
