# What `cmake --install BUILD --prefix P` installs: the programs with their
# manual pages, the desktop entry, the icons and the AppStream metainfo.
include(GNUInstallDirs)

set(TELVAR_ICON_SIZES 16 24 32 48 64 128 256)
set(TELVAR_GEN_DIR ${PROJECT_BINARY_DIR}/install-data)

# telvar_install_program(TARGET MANPAGE_IN): the program in bin/ and its
# section 1 manual page (a .in file; @PROJECT_VERSION@ and
# @TELVAR_RELEASE_DATE@ are filled in), compressed as Debian wants it.
function(telvar_install_program target manpage_in)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  get_filename_component(page ${manpage_in} NAME_WLE)
  set(plain ${TELVAR_GEN_DIR}/man/${page})
  configure_file(${manpage_in} ${plain} @ONLY)
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND gzip -9 -n -c ${plain} > ${plain}.gz
    DEPENDS ${plain} ${manpage_in}
    COMMENT "Compressing ${page}")
  add_custom_target(man-${page} ALL DEPENDS ${plain}.gz)
  install(FILES ${plain}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endfunction()

telvar_install_program(telvar ${PROJECT_SOURCE_DIR}/docs/man/telvar.1.in)
if(TARGET telvar-boxsim)
  telvar_install_program(telvar-boxsim ${PROJECT_SOURCE_DIR}/docs/man/telvar-boxsim.1.in)
endif()

# Desktop entry and metainfo, named after the application id.
configure_file(${PROJECT_SOURCE_DIR}/app/linux/telvar.desktop.in
               ${TELVAR_GEN_DIR}/${TELVAR_APP_ID}.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/app/linux/telvar.metainfo.xml.in
               ${TELVAR_GEN_DIR}/${TELVAR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${TELVAR_GEN_DIR}/${TELVAR_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
install(FILES ${TELVAR_GEN_DIR}/${TELVAR_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT runtime)

# Icons, rendered at build time from the drawing the window itself uses.
set(icon_files ${TELVAR_GEN_DIR}/icons/hicolor/scalable/apps/${TELVAR_APP_ID}.svg)
foreach(size IN LISTS TELVAR_ICON_SIZES)
  list(APPEND icon_files ${TELVAR_GEN_DIR}/icons/hicolor/${size}x${size}/apps/${TELVAR_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:telvar-icon> ${TELVAR_GEN_DIR}/icons ${TELVAR_APP_ID} ${TELVAR_ICON_SIZES}
  DEPENDS telvar-icon
  COMMENT "Rendering the icons")
add_custom_target(telvar-icons ALL DEPENDS ${icon_files})
foreach(icon IN LISTS icon_files)
  file(RELATIVE_PATH rel ${TELVAR_GEN_DIR}/icons ${icon})
  get_filename_component(dir ${rel} DIRECTORY)
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/${dir} COMPONENT runtime)
endforeach()

# Debian wants a copyright file and a changelog beside every package's docs;
# the changelog's date is the release date in RFC 2822 form.
string(REGEX MATCH "^([0-9]+)-0*([0-9]+)-0*([0-9]+)$" _date_ok "${TELVAR_RELEASE_DATE}")
if(NOT _date_ok)
  message(FATAL_ERROR "TELVAR_RELEASE_DATE must read YYYY-MM-DD")
endif()
set(_y ${CMAKE_MATCH_1})
set(_m ${CMAKE_MATCH_2})
set(_d ${CMAKE_MATCH_3})
set(_month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
math(EXPR _mi "${_m} - 1")
list(GET _month_offsets ${_mi} _off)
if(_m LESS 3)
  math(EXPR _y "${_y} - 1")
endif()
math(EXPR _dow "(${_y} + ${_y} / 4 - ${_y} / 100 + ${_y} / 400 + ${_off} + ${_d}) % 7")
set(_days Sun Mon Tue Wed Thu Fri Sat)
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET _days ${_dow} _dayname)
list(GET _months ${_mi} _monthname)
string(SUBSTRING "${TELVAR_RELEASE_DATE}" 0 4 _year)
if(_d LESS 10)
  set(_d "0${_d}")
endif()
set(TELVAR_RELEASE_DATE_RFC2822 "${_dayname}, ${_d} ${_monthname} ${_year} 12:00:00 +0000")
configure_file(${PROJECT_SOURCE_DIR}/app/linux/changelog.in ${TELVAR_GEN_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${TELVAR_GEN_DIR}/changelog.gz
  COMMAND gzip -9 -n -c ${TELVAR_GEN_DIR}/changelog > ${TELVAR_GEN_DIR}/changelog.gz
  DEPENDS ${TELVAR_GEN_DIR}/changelog)
add_custom_target(telvar-changelog ALL DEPENDS ${TELVAR_GEN_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/app/linux/copyright ${TELVAR_GEN_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/telvar COMPONENT runtime)
