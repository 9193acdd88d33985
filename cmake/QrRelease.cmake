# Release builds of the shipped files (the release-* presets, scripts/package.sh): stripped,
# and byte for byte the same from the same commit, whatever folder or day they are built in.

option(QR_REPRODUCIBLE "Stripped output without build folders or time stamps in it" OFF)
if(QR_REPRODUCIBLE)
  # The build folder is mapped last, so the source folder's map does not shadow it. The resource
  # compiler takes no such options.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")
  add_link_options(-s)
  if(WIN32)
    # Otherwise the linker writes the time of linking into the PE header.
    add_link_options(LINKER:--no-insert-timestamp)
  endif()
endif()
