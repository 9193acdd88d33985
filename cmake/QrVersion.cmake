# The one version of the project (project() in CMakeLists.txt) and the product's names, as the
# operating system shows them: a version resource in the Windows DLLs, a note in the Linux
# shared object (platform/*/version*), read back by `qrhost version`.

set(QR_PRODUCT_NAME "Quorvel Remote Control Demo")
set(QR_VENDOR "Brannock")
set(QR_DESCRIPTION "Quorvel Remote Control Demo: VST 2.4 remote control of a 48-channel MIDI gain device")
set(QR_COPYRIGHT "Copyright (c) 2026 Brannock")

set(QR_VERSION_HEADER_DIR ${CMAKE_BINARY_DIR}/generated/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/qr_version.h.in ${QR_VERSION_HEADER_DIR}/qr_version.h @ONLY)

add_library(qr_version INTERFACE)
target_include_directories(qr_version INTERFACE ${QR_VERSION_HEADER_DIR})

if(WIN32)
  set(QR_VERSION_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../platform/windows/version.rc)
else()
  set(QR_VERSION_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../platform/linux/version_note.cpp)
endif()
