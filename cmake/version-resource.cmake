# kvil_version_resource(TARGET ORIGINAL_FILENAME DESCRIPTION): gives a DLL the
# version resource of resources/version.rc.in with the release's version
# (KVIL_VERSION), its own file name and description. The resource is
# configured into the build folder; its text holds no path or date, so it is
# the same in every build of one version.
set(KVIL_VERSION_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../resources/version.rc.in)

function(kvil_version_resource target original_filename description)
  set(KVIL_ORIGINAL_FILENAME "${original_filename}")
  set(KVIL_FILE_DESCRIPTION "${description}")
  get_filename_component(KVIL_INTERNAL_NAME "${original_filename}" NAME_WE)
  string(REPLACE "." "," KVIL_VERSION_COMMAS "${KVIL_VERSION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/version/${target}.rc)
  configure_file(${KVIL_VERSION_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
