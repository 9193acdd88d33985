# Operating-system seams: the MIDI service behind the Windows MIDI calls, the module handle,
# and how the entry points are exported.

if(WIN32)
  # Waking the MIDI sender, telling threads apart and keeping the module loaded, for every
  # program with the core.
  set(QR_CORE_PLATFORM_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/thread_wakeup_win.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/thread_identity_win.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/module_pin_win.cpp)
  add_library(qr_midi_system STATIC ${CMAKE_CURRENT_SOURCE_DIR}/platform/midi_outputs_winmm.cpp)
  target_include_directories(qr_midi_system PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(qr_midi_system PUBLIC winmm)
  set(QR_MODULE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/module_win.cpp)

  function(qr_export_entry_points target)
    # The .def file names the two undecorated exports and nothing else.
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/windows/exports.def)
  endfunction()
else()
  set(QR_CORE_PLATFORM_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/thread_wakeup_linux.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/thread_identity_linux.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/module_pin_linux.cpp)
  find_package(PkgConfig REQUIRED)
  # RtMidi for the ALSA sequencer; JACK through a client of our own.
  pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
  pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
  add_library(qr_midi_system STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/midi_linux.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/midi_alsa.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/midi_jack.cpp)
  target_include_directories(qr_midi_system PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(qr_midi_system PUBLIC PkgConfig::RTMIDI PkgConfig::JACK)
  set(QR_MODULE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/module_linux.cpp)

  # The receiving end for our host's validator, the tests and the benchmarks.
  add_library(qr_jack_receiver STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/jack_midi_receiver.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/jack_server.cpp)
  target_include_directories(qr_jack_receiver PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(qr_jack_receiver PUBLIC PkgConfig::JACK)

  function(qr_export_entry_points target)
    # Only VSTPluginMain and its older name `main` leave the shared object.
    target_link_options(${target} PRIVATE
      -Wl,--version-script=${CMAKE_SOURCE_DIR}/platform/linux/exports.map
      -Wl,--defsym=main=VSTPluginMain
      -Wl,--no-undefined)
    target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
  endfunction()
endif()
