# The one version number of the build: VERSION at the top of the tree. CMake
# reads it here (for project(), the packages, the programs' --version and the
# Windows version resource); the emulator reads the same file
# (emulator/hj5emu/version.py).
#
# The Debian changelog's top entry must carry the same version: a new version
# needs its changelog entry. That entry's date is the release date of the
# AppStream metainfo and the year of the copyright notices.
set(_top ${CMAKE_CURRENT_LIST_DIR}/..)
file(STRINGS ${_top}/VERSION HJ5_VERSION LIMIT_COUNT 1)
if(NOT HJ5_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "VERSION: not MAJOR.MINOR.PATCH: '${HJ5_VERSION}'")
endif()

set(HJ5_CHANGELOG ${_top}/packaging/debian/changelog)
file(STRINGS ${HJ5_CHANGELOG} _head LIMIT_COUNT 1)
if(NOT _head MATCHES "^hj5-xml-update \\(([^)]+)\\) ")
  message(FATAL_ERROR "${HJ5_CHANGELOG}: no entry at the top")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL HJ5_VERSION)
  message(FATAL_ERROR "${HJ5_CHANGELOG}: the top entry is ${CMAKE_MATCH_1}, "
                      "VERSION is ${HJ5_VERSION}: add an entry for it")
endif()
file(STRINGS ${HJ5_CHANGELOG} _trailer LIMIT_COUNT 1
     REGEX "^ -- .+ <.+>  [A-Z][a-z][a-z], ")
if(NOT _trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "${HJ5_CHANGELOG}: the top entry's date is not "
                      "'Day, DD Mon YYYY hh:mm:ss +zzzz'")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(HJ5_RELEASE_YEAR ${CMAKE_MATCH_3})
set(HJ5_RELEASE_DATE ${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1})

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${_top}/VERSION ${HJ5_CHANGELOG})
unset(_top)
unset(_head)
unset(_trailer)
unset(_months)
unset(_month)
