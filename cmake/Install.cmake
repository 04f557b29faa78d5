# What `cmake --install` puts on a system and what `cpack -G DEB` packages.

# The programs of bin/: the launcher and the recorder it runs.
set(PYX_INSTALLED_PROGRAMS pyx-video pyx-video-recorder)
install(TARGETS ${PYX_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS pyx_video_client_shared pyx_video_client_static
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_BINARY_DIR}/src/client/pyx-video-client.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/CrashExample.cpp DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The man page is pyx-video --help put through help2man, so it never disagrees with the program.
option(PYX_MAN_PAGE "Make and install pyx-video(1) from pyx-video --help (needs help2man)" ON)
if(PYX_MAN_PAGE)
  find_program(HELP2MAN help2man REQUIRED)
  set(PYX_MAN_PAGE_FILE ${PROJECT_BINARY_DIR}/pyx-video.1.gz)
  add_custom_command(OUTPUT ${PYX_MAN_PAGE_FILE}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:pyx-video> -DHELP2MAN=${HELP2MAN} -DVERSION=${PROJECT_VERSION}
            -DOUTPUT=${PYX_MAN_PAGE_FILE} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS pyx-video pyx-video-recorder ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Making pyx-video(1) from pyx-video --help")
  add_custom_target(pyx-video-man ALL DEPENDS ${PYX_MAN_PAGE_FILE})
  install(FILES ${PYX_MAN_PAGE_FILE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pyx-video)
set(CPACK_PACKAGE_CONTACT "pyx-video developers <pyx-video@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "crash-replay recorder for an application's window and sound")
set(CPACK_PACKAGE_DESCRIPTION "A crash reporter starts pyx-video beside an application; it keeps the last \
minutes of that application's window and the system audio, and saves them as an MP4 when asked. Includes \
libpyx-video-client, the C library a crash handler calls.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# Dependencies are those of the shared libraries the installed programs really link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
