# `cpack -G DEB` in a build tree: a .deb of the form, its .desktop entry and
# its icon, and hj5-update with its man page. The dependencies are the
# runtime packages they need.
set(CPACK_PACKAGE_NAME "hj5-xml-update")
set(CPACK_PACKAGE_VENDOR "hj5-xml-update developers")
set(CPACK_PACKAGE_CONTACT "hj5-xml-update developers <hj5-xml-update@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Puts an XML file onto an HJ-5 device and runs its update")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6, libqt6gui6, libqt6core6, libcurl3-gnutls, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
include(CPack)
