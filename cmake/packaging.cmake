# The Debian packages, built by `cpack -G DEB` in a build tree
# (scripts/build-deb builds them into dist/):
#   hj5-xml-update  the form, hj5-update, their man pages, the desktop entry,
#                   the icon and the AppStream metainfo (component "tool",
#                   the default one: what src/ installs);
#   hj5-emulator    the device emulator, architecture all (component
#                   "emulator").
# Each has its copyright file and the changelog; the tool's dependencies
# come from the shared libraries its programs link (dpkg-shlibdeps), and
# the Qt platform plugins, which Qt loads at run time, besides.
#
# Reproducible: the archives' times are SOURCE_DATE_EPOCH, which
# cmake/cpack_options.cmake takes from the last commit when it is not set;
# every compressed file is written by gzip -9n.
include(GNUInstallDirs)

set(HJ5_MAINTAINER
    "hj5-xml-update developers <maintainers@hj5-xml-update.invalid>")
# The AppStream ID, under the same reserved domain as the maintainer's
# address until the project has a domain of its own.
set(HJ5_APPSTREAM_ID invalid.hj5_xml_update.hj5_xml_update)
set(HJ5_SCREENSHOT_URL
    "https://hj5-xml-update.invalid/screenshots/form.png"
    CACHE STRING "Where the AppStream metainfo says the form's screenshot is")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

set(pkg ${CMAKE_BINARY_DIR}/packaging)
set(debian ${PROJECT_SOURCE_DIR}/packaging/debian)
set(gzip_file ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake)

# Man pages and the changelog, compressed.
set(compressed)
foreach(page IN ITEMS hj5-xml-update hj5-update hj5-emulator)
  add_custom_command(
    OUTPUT ${pkg}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/${page}.1
            -DOUT=${pkg}/${page}.1.gz -DVERSION=${PROJECT_VERSION}
            -DDATE=${HJ5_RELEASE_DATE} -P ${gzip_file}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${gzip_file}
    COMMENT "Man page ${page}(1)")
  list(APPEND compressed ${pkg}/${page}.1.gz)
endforeach()
add_custom_command(
  OUTPUT ${pkg}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DIN=${HJ5_CHANGELOG} -DOUT=${pkg}/changelog.gz
          -P ${gzip_file}
  DEPENDS ${HJ5_CHANGELOG} ${gzip_file})
list(APPEND compressed ${pkg}/changelog.gz)
add_custom_target(hj5_package_files ALL DEPENDS ${compressed})

configure_file(
  ${PROJECT_SOURCE_DIR}/packaging/linux/${HJ5_APPSTREAM_ID}.metainfo.xml.in
  ${pkg}/${HJ5_APPSTREAM_ID}.metainfo.xml @ONLY)

# The tool.
install(FILES ${pkg}/hj5-xml-update.1.gz ${pkg}/hj5-update.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${pkg}/${HJ5_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT tool)
install(FILES ${pkg}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hj5-xml-update COMPONENT tool)
install(FILES ${debian}/hj5-xml-update.copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hj5-xml-update
        RENAME copyright COMPONENT tool)

# The emulator: its modules in a folder of its own, as Debian keeps a
# program's private Python modules, and hj5-emulator on the PATH as a link
# to its script there (which finds the modules beside its real path).
set(emulator_dir ${CMAKE_INSTALL_DATADIR}/hj5-emulator)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/emulator/hj5-emulator
        DESTINATION ${emulator_dir} COMPONENT emulator)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/emulator/hj5emu
        DESTINATION ${emulator_dir} COMPONENT emulator
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/VERSION
        DESTINATION ${emulator_dir}/hj5emu COMPONENT emulator)
file(CREATE_LINK ../share/hj5-emulator/hj5-emulator ${pkg}/hj5-emulator
     SYMBOLIC)
install(FILES ${pkg}/hj5-emulator
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT emulator)
install(FILES ${pkg}/hj5-emulator.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT emulator)
install(FILES ${pkg}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hj5-emulator
        COMPONENT emulator)
install(FILES ${debian}/hj5-emulator.copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hj5-emulator
        RENAME copyright COMPONENT emulator)

# CPack.
set(CPACK_PACKAGE_NAME "hj5-xml-update")
set(CPACK_PACKAGE_VENDOR "Quorvel Corporation")
set(CPACK_PACKAGE_CONTACT "${HJ5_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_staging.cmake)
set(CPACK_HJ5_OBJCOPY ${CMAKE_OBJCOPY})  # for cpack_staging.cmake
set(CPACK_HJ5_SOURCE_DIR ${PROJECT_SOURCE_DIR})  # for cpack_options.cmake

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool emulator)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HJ5_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE "hj5-xml-update")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# A description's first line is the synopsis. CPack passes it on as a
# CMake string: no double quote or semicolon in it.
foreach(name IN ITEMS hj5-xml-update hj5-emulator)
  file(READ ${debian}/${name}.description text)
  if(text MATCHES "[\";]")
    message(FATAL_ERROR "${debian}/${name}.description: a \" or ;")
  endif()
endforeach()
file(READ ${debian}/hj5-xml-update.description CPACK_DEBIAN_TOOL_DESCRIPTION)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME "hj5-xml-update")
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS "hj5-emulator")

file(READ ${debian}/hj5-emulator.description CPACK_DEBIAN_EMULATOR_DESCRIPTION)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME "hj5-emulator")
set(CPACK_DEBIAN_EMULATOR_PACKAGE_ARCHITECTURE "all")
set(CPACK_DEBIAN_EMULATOR_PACKAGE_DEPENDS "python3, python3-pyftpdlib")
set(CPACK_DEBIAN_EMULATOR_PACKAGE_CONTROL_EXTRA
    ${debian}/emulator/postinst ${debian}/emulator/prerm)

include(CPack)
