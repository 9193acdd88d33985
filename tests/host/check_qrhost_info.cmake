# `qrhost info` on the built plug-in: exit code 0 and the identity, flags and parameter table.
execute_process(COMMAND ${QRHOST} info ${PLUGIN}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "qrhost info exited with ${result}: ${err}")
endif()
set(expected
  "Effect name: +Quorvel Remote Control Demo\n"
  "Vendor: +Brannock\n"
  "Vendor version: 1100\n"
  "Unique id: +QVRL \\(0x5156524c\\)\n"
  "Category: +1 \\(effect\\)\n"
  "VST version: +2400\n"
  "Parameters: +74\n"
  "Inputs: +2\nOutputs: +2\n"
  "Flags: +0x0000103[01]( effFlagsHasEditor)? effFlagsCanReplacing effFlagsProgramChunks effFlagsCanDoubleReplacing\n"
  "Program: +0 \"Default\"\n"
  "Exports: +(main, VSTPluginMain|VSTPluginMain, main)\n"
  "Version info: +ELF version note\n"
  "\n  ProductName: +Quorvel Remote Control Demo\n"
  "\n +0  MidiDev +0\\.000000 +0\n"
  "\n +1  Refresh +0\\.000000 +0\n"
  "\n +2  Gain 1 +10 dB +0\n"
  "\n +49  Gain 48 +10 dB +0\n"
  "\n +50  Ln 1\\+2 +0\\.000000 +0\n"
  "\n +73  Ln 47\\+48 +0\\.000000 +0\n")
foreach(pattern IN LISTS expected)
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "qrhost info lacks '${pattern}'. Output:\n${out}")
  endif()
endforeach()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "qrhost info wrote to stderr: ${err}")
endif()
