# The Debian package: ./run package, or cpack -G DEB in a build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lvt-camera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "lvt developers <lvt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Network camera plug-in lvt.L32.vcp, its loader libvyxhost, vyxgrab and lvtcamsim")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# Declared by hand: the package must say what it needs even where dpkg-shlibdeps is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libflxmlrpc1, libpng16-16")
include(CPack)
