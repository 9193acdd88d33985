# `cmake --install` of a build puts the plug-in where hosts look for it, with its documents,
# and nothing else: no test program, no qrhost. On Linux the `user` component puts the plug-in
# alone into $HOME/.vst.
#
#   cmake -DBUILD=<build folder> -DWORK=<scratch folder> -DSYSTEM=linux|windows
#         -P check_install.cmake

if(SYSTEM STREQUAL "windows")
  set(expected
    VstPlugins/QuorvelRemote.dll
    doc/QuorvelRemote/INSTALL.txt doc/QuorvelRemote/LICENSE.txt doc/QuorvelRemote/README.md
    doc/QuorvelRemote/THIRD-PARTY-NOTICES.txt)
else()
  set(expected
    lib/vst/QuorvelRemote.so
    share/doc/quorvel-remote/LICENSE share/doc/quorvel-remote/README.md
    share/doc/quorvel-remote/THIRD-PARTY-NOTICES share/doc/quorvel-remote/copyright)
endif()

# Every file under `folder`, against the list `wanted`.
function(expect_files folder wanted what)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${folder} ${folder}/* ${folder}/.*)
  list(SORT found)
  list(SORT wanted)
  if(NOT found STREQUAL wanted)
    string(REPLACE ";" "\n  " found "${found}")
    string(REPLACE ";" "\n  " wanted "${wanted}")
    message(FATAL_ERROR "${what} installed:\n  ${found}\nexpected:\n  ${wanted}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${error}")
endif()
expect_files(${WORK}/prefix "${expected}" "cmake --install")

if(NOT SYSTEM STREQUAL "windows")
  file(MAKE_DIRECTORY ${WORK}/home)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env HOME=${WORK}/home
            ${CMAKE_COMMAND} --install ${BUILD} --component user
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install --component user failed: ${error}")
  endif()
  expect_files(${WORK}/home ".vst/QuorvelRemote.so" "The user install")
endif()
file(REMOVE_RECURSE ${WORK})
