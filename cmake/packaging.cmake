# The release a machine builder installs: Torvexan.dll, the card check torvexan-check.exe
# (installed by tools/torvexan-check), the dry run torvexan-sim.exe (tools/torvexan-sim) with
# the example jobs and the machine file, the user's guide and the license in
# Torvexan-<version>-win32.zip, made by `cpack --preset win32` (scripts/package).

# Only the files of the release: the plug-in itself, not its import library.
install(FILES $<TARGET_FILE:Torvexan> DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
# The example jobs, their tool table and the machine file, for the dry run with torvexan-sim.exe.
file(GLOB example_files ${CMAKE_SOURCE_DIR}/examples/*.nc ${CMAKE_SOURCE_DIR}/examples/*.tools
     ${CMAKE_SOURCE_DIR}/examples/machine.toml)
install(FILES ${example_files} DESTINATION examples)
# Packaging needs the plug-in and the check only, not every test program of the tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Torvexan)
set(CPACK_PACKAGE_VENDOR "Torvexan developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Torvexan-${PROJECT_VERSION}-win32)
# The archive unpacks into one folder of that name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
