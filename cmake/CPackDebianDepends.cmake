# Run by cpack before it makes the package. dpkg-shlibdeps, which cpack runs
# over the programs, sees only the libraries they link; the JPEG library that
# Qt's JPEG image plugin loads for the window's thumbnails is not among them.
# Its package is found the same way, from the plugin, and added to Depends.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_PLUME_JPEG_PLUGIN)
  return()
endif()

# dpkg-shlibdeps reads a debian/control in the folder it runs in.
set(work ${CPACK_TOPLEVEL_DIRECTORY}/plume-jpeg-depends)
file(WRITE ${work}/debian/control "Source: plume\n\nPackage: plume\nArchitecture: any\n")
execute_process(
  COMMAND dpkg-shlibdeps -O -e${CPACK_PLUME_JPEG_PLUGIN}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE substvars
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
file(REMOVE_RECURSE ${work})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps could not read ${CPACK_PLUME_JPEG_PLUGIN}:\n${errors}")
endif()

# "shlibs:Depends=libc6 (>= 2.14), libjpeg62-turbo (>= 1.3.1), ...": the
# entry whose package name holds "jpeg".
string(REGEX MATCH "[=,] *([^ ,]*jpeg[^,\n]*)" entry "${substvars}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "No JPEG library among the dependencies of ${CPACK_PLUME_JPEG_PLUGIN}")
endif()
string(STRIP "${CMAKE_MATCH_1}" jpeg_depends)
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ")
endif()
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS "${jpeg_depends}")
