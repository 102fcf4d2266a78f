# Makes a setup program of a CMake project with CPack's External generator:
#
#   set(CPACK_SX_PRODUCT_NAME "Hello")          # and the other CPACK_SX_* below
#   include(<this folder>/SXSetup.cmake)
#   include(CPack)
#   ...
#   cpack -G External                           # writes <package file name>.exe
#
# The project's install rules fill a staging folder; the package script
# (SXSetupPackage.cmake) writes a setup project for it and runs sxbuild.
#
# Variables (all optional but the tools when they are not found; files are
# named by absolute paths, e.g. ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE.txt):
#   CPACK_SX_SXBUILD         the host sxbuild (default: found on the PATH)
#   CPACK_SX_STUB            the setup.exe stub (default: sxbuild's own search)
#   CPACK_SX_PRODUCT_NAME    product name (default: CPACK_PACKAGE_NAME)
#   CPACK_SX_SETUP_NAME      setup caption (default: "<product> Setup")
#   CPACK_SX_FOLDER          target folder (default:
#                            <ProgramFilesDir>\CPACK_PACKAGE_INSTALL_DIRECTORY)
#   CPACK_SX_ASK_FOLDER      ON: ask for the folder (default OFF)
#   CPACK_SX_UNINSTALL       ON: register for uninstall (default ON)
#   CPACK_SX_UNINSTALLER     ovUninst.exe to carry (default: none carried)
#   CPACK_SX_LINKS           programs-menu links, "Link name=relative/path"
#                            items, e.g. "Hello/Hello=hello.exe" ("/" or "\\")
#   CPACK_SX_DESKTOP_LINKS   desktop links, the same form
#   CPACK_SX_COMMAND         program (relative to the folder) run at the end
#   CPACK_SX_LICENSE_FILE    text shown for acceptance
#   CPACK_SX_SILENT          ON: an unattended setup
#   CPACK_SX_SIGN_CERT, CPACK_SX_SIGN_KEY, CPACK_SX_SIGN_PASS_FILE,
#   CPACK_SX_TIMESTAMP_URL   sign the setup (sxbuild --sign-cert ...)
#   CPACK_SX_EXTRA_ARGS      more sxbuild arguments (a list)
include_guard(GLOBAL)

if(NOT CPACK_SX_SXBUILD)
  find_program(CPACK_SX_SXBUILD NAMES sxbuild sxbuild.exe)
endif()
if(NOT CPACK_SX_SXBUILD)
  message(WARNING "SXSetup: sxbuild not found; set CPACK_SX_SXBUILD before cpack -G External")
endif()
# Values reach the package script as written (backslashes, quotes).
if(NOT DEFINED CPACK_VERBATIM_VARIABLES)
  set(CPACK_VERBATIM_VARIABLES ON)
endif()
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/SXSetupPackage.cmake")
if(NOT CPACK_GENERATOR)
  set(CPACK_GENERATOR External)
endif()
