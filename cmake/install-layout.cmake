# Where `cmake --install` puts things. Under /usr this is exactly where the Debian packages put
# them (Debian's loader, GStreamer and python3 look there); under any other prefix the layout is
# the same and the end of the install prints what goes where and what to point at it.

# Debian keeps libraries in lib/<multiarch> under every prefix (/usr/local/lib/<multiarch> is in
# the loader's path too); GNUInstallDirs would pick plain lib for any prefix but /usr. A build
# folder configured before this rule holds GNUInstallDirs' plain lib, which is replaced once.
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND
   (NOT DEFINED CMAKE_INSTALL_LIBDIR OR (CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND NOT vyx_layout_set)))
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (LIBDIR), lib/<multiarch> as on Debian" FORCE)
endif()
set(vyx_layout_set ON CACHE INTERNAL "the install layout was chosen by install-layout.cmake")
include(GNUInstallDirs)

# vyx_install_note(WHAT DIR [HINT]): one line of the summary printed at the end of the install.
# DIR is relative to the prefix; HINT, printed for prefixes other than /usr, says what to set so
# that the thing is found, with @PREFIX@ and @DIR@ standing for the absolute paths.
function(vyx_install_note what dir)
  set(hint "${ARGN}")
  set_property(GLOBAL APPEND PROPERTY VYX_INSTALL_NOTES "${what}|${dir}|${hint}")
endfunction()

# A program installed in bin/ finds libvyxhost (and through it the plug-in) in the prefix's
# libdir by its run path, so it needs no variable under any prefix.
file(RELATIVE_PATH vyx_bin_to_libdir ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set(VYX_PROGRAM_RPATH "$ORIGIN/${vyx_bin_to_libdir}")
vyx_install_note("programs (vyxgrab, vyxcalib, vyxview, lvtcamsim)" ${CMAKE_INSTALL_BINDIR}
                 "their run paths lead them to libvyxhost: nothing to set")
