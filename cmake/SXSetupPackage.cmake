# CPack External package script of SXSetup.cmake: runs inside cpack with the
# CPACK_* variables of the project. Writes a setup project for the staged
# install tree and builds it with sxbuild.

function(sx_ini_value out text)
  # Values are written in quotes when they have blanks at their ends.
  string(STRIP "${text}" stripped)
  if(NOT stripped STREQUAL text)
    set(text "\"${text}\"")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(sx_links out section items folder)
  set(text "")
  foreach(item IN LISTS items)
    string(FIND "${item}" "=" eq)
    if(eq LESS 1)
      message(FATAL_ERROR "SXSetup: a link must read \"Link name=relative\\path\", not \"${item}\"")
    endif()
    string(SUBSTRING "${item}" 0 ${eq} name)
    math(EXPR rest "${eq} + 1")
    string(SUBSTRING "${item}" ${rest} -1 target)
    string(REPLACE "/" "\\" name "${name}")
    string(REPLACE "/" "\\" target "${target}")
    string(APPEND text "${name}=${folder}\\${target}\n")
  endforeach()
  if(text)
    set(${out} "${${out}}[${section}]\n${text}" PARENT_SCOPE)
  endif()
endfunction()

if(NOT CPACK_SX_SXBUILD OR NOT EXISTS "${CPACK_SX_SXBUILD}")
  message(FATAL_ERROR "SXSetup: sxbuild not found (set CPACK_SX_SXBUILD)")
endif()

# The staged tree: one folder per component, or the whole install.
set(stage "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
if(NOT staged)
  message(FATAL_ERROR "SXSetup: the install rules staged no file in ${stage}")
endif()

set(product "${CPACK_SX_PRODUCT_NAME}")
if(NOT product)
  set(product "${CPACK_PACKAGE_NAME}")
endif()
set(setup_name "${CPACK_SX_SETUP_NAME}")
if(NOT setup_name)
  set(setup_name "${product} Setup")
endif()
set(folder "${CPACK_SX_FOLDER}")
if(NOT folder)
  set(folder "<ProgramFilesDir>\\${CPACK_PACKAGE_INSTALL_DIRECTORY}")
endif()
string(REPLACE "/" "\\" folder "${folder}")
if(NOT DEFINED CPACK_SX_UNINSTALL)
  set(CPACK_SX_UNINSTALL ON)
endif()
macro(sx_yes var out)
  if(${var})
    set(${out} yes)
  else()
    set(${out} no)
  endif()
endmacro()
sx_yes(CPACK_SX_ASK_FOLDER ask)
sx_yes(CPACK_SX_UNINSTALL uninstall)
sx_yes(CPACK_SX_SILENT silent)

set(work "${CPACK_TOPLEVEL_DIRECTORY}/sxsetup")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

# The setup script: the links.
set(script "")
sx_links(script "ShellLinks.Programs" "${CPACK_SX_LINKS}" "${folder}")
sx_links(script "ShellLinks.Desktop" "${CPACK_SX_DESKTOP_LINKS}" "${folder}")

set(ini "; Setup project written by SXSetup.cmake for ${CPACK_PACKAGE_NAME} ${CPACK_PACKAGE_VERSION}\n")
string(APPEND ini "[Setup]\nDefaultFolder=${folder}\nAskFolder=${ask}\nSilent=${silent}\n")
if(CPACK_SX_UNINSTALL)
  string(APPEND ini "Uninstall=yes\nUninstallFolder=${folder}\n")
  if(CPACK_SX_UNINSTALLER)
    string(APPEND ini "Uninstaller=${CPACK_SX_UNINSTALLER}\n")
  endif()
endif()
if(CPACK_SX_COMMAND)
  string(REPLACE "/" "\\" command "${CPACK_SX_COMMAND}")
  string(APPEND ini "Command=${folder}\\${command}\n")
endif()
if(script)
  file(WRITE "${work}/setup.inf" "${script}")
  string(APPEND ini "Script=setup.inf | folder=tmp\nTempFolder=tmp\nDeleteTempFiles=yes\n")
endif()
sx_ini_value(product_value "${product}")
sx_ini_value(setup_value "${setup_name}")
string(APPEND ini "[Strings]
SetupName=${setup_value}
ProductName=${product_value}
WelcomeCaption=Welcome
WelcomeText=This program installs <ProductName> on your computer.\\n\\nPress OK to continue or Cancel to quit.
ProgressText=Installing <ProductName>, please wait...
FolderCaption=Select Folder
FolderPrompt=Choose the folder for <ProductName>:
FolderCancelQuestion=Do you want to quit <SetupName>?
PasswordCaption=Password
PasswordPrompt=Please type the password of this setup:
WrongPassword=The password is not correct. Please try again.
YesButton=&Yes
NoButton=&No
CancelButton=Cancel
OkButton=OK
")
if(CPACK_SX_LICENSE_FILE)
  string(APPEND ini "LicenseTextFile=${CPACK_SX_LICENSE_FILE}\n")
endif()
string(APPEND ini "[Folders]\napp = ${folder} | register\ntmp = <TempDir>\\${setup_name}\n")
string(APPEND ini "[Files]\nFile = ${stage}/* | recurse | folder=app\n")
if(CPACK_PACKAGE_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
  string(APPEND ini "[Version]\nFileVersion=${CPACK_PACKAGE_VERSION}\nProductVersion=${CPACK_PACKAGE_VERSION}\n")
  string(APPEND ini "ProductName=${product}\nFileDescription=${setup_name}\n")
  if(CPACK_PACKAGE_VENDOR)
    string(APPEND ini "CompanyName=${CPACK_PACKAGE_VENDOR}\n")
  endif()
endif()
file(WRITE "${work}/setup.ini" "${ini}")

set(output "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.exe")
set(args "${work}/setup.ini" -o "${output}" --quiet)
if(CPACK_SX_STUB)
  list(APPEND args --stub "${CPACK_SX_STUB}")
endif()
if(CPACK_SX_SIGN_CERT OR CPACK_SX_SIGN_KEY)
  list(APPEND args --sign-cert "${CPACK_SX_SIGN_CERT}" --sign-key "${CPACK_SX_SIGN_KEY}")
  if(CPACK_SX_SIGN_PASS_FILE)
    list(APPEND args --sign-pass-file "${CPACK_SX_SIGN_PASS_FILE}")
  endif()
  if(CPACK_SX_TIMESTAMP_URL)
    list(APPEND args --timestamp-url "${CPACK_SX_TIMESTAMP_URL}")
  endif()
endif()
list(APPEND args ${CPACK_SX_EXTRA_ARGS})
execute_process(COMMAND "${CPACK_SX_SXBUILD}" ${args} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "SXSetup: sxbuild failed (${rc}):\n${err}${out}")
endif()
# Tells cpack which file this generator made.
list(APPEND CPACK_EXTERNAL_BUILT_PACKAGES "${output}")
