# `cmake --install` puts the plug-in where hosts look for VST 2 plug-ins, with its documents,
# and nothing else: test programs, qrhost and benchmarks have no install rule.
#
#   Linux:   <prefix>/lib/vst/QuorvelRemote.so and <prefix>/share/doc/quorvel-remote/
#            `cmake --install BUILD --component user` copies the plug-in to ~/.vst instead.
#   Windows: <prefix>/VstPlugins/QuorvelRemote.dll and <prefix>/doc/QuorvelRemote/
#
# On Linux, `cpack` in the build folder makes the Debian package from the same rules.

set(QR_DOCUMENTS ${PROJECT_SOURCE_DIR}/README.md)
set(QR_LICENCE_FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES)

if(WIN32)
  install(TARGETS QuorvelRemote LIBRARY DESTINATION VstPlugins COMPONENT plugin)
  install(FILES ${QR_DOCUMENTS} ${PROJECT_SOURCE_DIR}/packaging/windows/INSTALL.txt
          DESTINATION doc/QuorvelRemote COMPONENT plugin)
  # Windows users open text files by their ending.
  foreach(file IN LISTS QR_LICENCE_FILES)
    get_filename_component(name ${file} NAME)
    install(FILES ${file} DESTINATION doc/QuorvelRemote RENAME ${name}.txt COMPONENT plugin)
  endforeach()
  return()
endif()

set(QR_DEB_NAME quorvel-remote)
install(TARGETS QuorvelRemote LIBRARY DESTINATION lib/vst COMPONENT plugin)
install(FILES ${QR_DOCUMENTS} ${QR_LICENCE_FILES} ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION share/doc/${QR_DEB_NAME} COMPONENT plugin)

# The folder of the user's own plug-ins, found when the install runs (not when CMake
# configures), and only when this component is asked for by name.
install(CODE "file(INSTALL \"$<TARGET_FILE:QuorvelRemote>\" DESTINATION \"\$ENV{HOME}/.vst\")"
        COMPONENT user EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QR_DEB_NAME})
set(CPACK_PACKAGE_VENDOR ${QR_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "VST 2.4 plug-in remote-controlling a 48-channel MIDI gain device")
# Lines of the long description, as `apt show` prints them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "${QR_PRODUCT_NAME} turns a plug-in slot of a VST 2 host (Ardour, Audacity,"
  "MusE and others) into the remote-control panel of an external 48-channel gain"
  "device: every gain change leaves at once as a MIDI Control Change for the"
  "device, through the ALSA sequencer or JACK. Audio passes through unchanged."
  "The plug-in is installed as /usr/lib/vst/QuorvelRemote.so.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QR_VENDOR} <plugins@brannock.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies are what dpkg-shlibdeps finds the plug-in linked against (RtMidi, JACK, cairo,
# X11 and the C and C++ runtimes), never a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
