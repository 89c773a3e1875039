# The message catalogues: each po/LANG.po named in po/LINGUAS is compiled
# with msgfmt --check (every placeholder of a translation must match its
# text) into the build tree's locale/LANG/LC_MESSAGES/plume.mo, where the
# programs find it when they run from the build tree, and installed into
# share/locale.
find_program(PLUME_MSGFMT msgfmt REQUIRED)
set(PLUME_LOCALE_DIR ${CMAKE_BINARY_DIR}/locale)
file(STRINGS ${PROJECT_SOURCE_DIR}/po/LINGUAS PLUME_LANGUAGES REGEX "^[^#]")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/LINGUAS)

set(catalogues)
foreach(language ${PLUME_LANGUAGES})
  set(folder ${PLUME_LOCALE_DIR}/${language}/LC_MESSAGES)
  add_custom_command(
    OUTPUT ${folder}/plume.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${PLUME_MSGFMT} --check -o ${folder}/plume.mo ${PROJECT_SOURCE_DIR}/po/${language}.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/${language}.po
    COMMENT "Compiling the ${language} message catalogue")
  list(APPEND catalogues ${folder}/plume.mo)
  install(FILES ${folder}/plume.mo DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
add_custom_target(plume_catalogues ALL DEPENDS ${catalogues})
