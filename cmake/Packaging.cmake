# What `cmake --install` puts on the system besides the two programs (their
# own CMakeLists install them), and the Debian package that CPack makes of
# it all (tools/package.sh). Included after src/cli and src/gui, whose targets it asks.

set(PLUME_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(PLUME_APP_ID com.tidecrest.plume)

# The window's desktop entry, its icons and its entry in software centres.
if(TARGET plume)
  install(FILES ${PLUME_DATA_DIR}/plume.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PLUME_DATA_DIR}/plume.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PLUME_DATA_DIR}/plume.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
  install(FILES ${PLUME_DATA_DIR}/${PLUME_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Manual pages: the version goes in, then gzip, as Debian keeps them. gzip -n
# leaves out the name and time, so the same page gives the same bytes.
set(manual_pages)
foreach(program plume-cli plume)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  configure_file(${PLUME_DATA_DIR}/man/${program}.1 ${page} @ONLY)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND gzip -9nkf ${page}
    DEPENDS ${page}
    VERBATIM)
  list(APPEND manual_pages ${page}.gz)
endforeach()
if(manual_pages)
  add_custom_target(plume_manual_pages ALL DEPENDS ${manual_pages})
  install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(TARGET plume-cli)
  install(FILES ${PLUME_DATA_DIR}/bash-completion/plume-cli
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# The Debian package: build/plume_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plume)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tidecrest)
set(CPACK_PACKAGE_CONTACT "plume developers <plume@tidecrest.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn JPEG photos upright without loss")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "plume turns JPEG photographs upright as the orientation that the camera
recorded in their EXIF data asks, without any loss of quality: it moves the
compressed blocks and codes them anew, never decoding to pixels, turns the
EXIF thumbnail the same way and corrects the EXIF fields.
.
This package holds the window plume and the console program plume-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Japanese; without a font that has their glyphs, Qt
# draws each of them as empty boxes. Either of Debian's usual Japanese fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
# The window decodes EXIF thumbnails through Qt's JPEG image plugin, which Qt
# loads only at run time: cpack asks dpkg-shlibdeps about it separately.
if(TARGET plume)
  find_package(Qt6 REQUIRED COMPONENTS Core)
  set(CPACK_PLUME_JPEG_PLUGIN ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/imageformats/libqjpeg.so)
  if(NOT EXISTS ${CPACK_PLUME_JPEG_PLUGIN})
    message(WARNING "No Qt JPEG plugin at ${CPACK_PLUME_JPEG_PLUGIN}: "
                    "the package will not name the JPEG library")
    unset(CPACK_PLUME_JPEG_PLUGIN)
  endif()
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackDebianDepends.cmake)
include(CPack)
