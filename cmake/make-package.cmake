# Writes the release package, a zip for viewers (run by the win32_package
# target with cmake -P):
#   cmake -DMODULE=Pictolandrum.dll -DGUIDE=viewer-guide.txt -DLICENSE_FILE=LICENSE
#         -DNAME=Pictolandrum-1.02-win32 -DWORK=DIR -DZIP=OUT.zip -DSOURCE=REPOSITORY
#         -DPYTHON=python3 -P make-package.cmake
# makes DIR/NAME/ with Pictolandrum.dll, README.txt (the guide), LICENSE.txt
# and SHA256SUMS (over the other three), and zips that folder into OUT.zip.
# The text files get Windows line ends so every Windows editor shows them
# right; SHA256SUMS keeps Unix ones for `sha256sum -c`. The zip's entries
# are dated SOURCE_DATE_EPOCH when that is set, else the time of the
# repository's last commit, so two builds of one commit give the same zip.
foreach(variable MODULE GUIDE LICENSE_FILE NAME WORK ZIP SOURCE PYTHON)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make-package.cmake: ${variable} not given")
  endif()
endforeach()
if(NOT EXISTS "${MODULE}")
  message(FATAL_ERROR "make-package.cmake: ${MODULE} is missing; build win32_build first")
endif()

set(stage "${WORK}/${NAME}")
set(zip "${ZIP}")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")

configure_file("${MODULE}" "${stage}/Pictolandrum.dll" COPYONLY)
foreach(pair "${GUIDE}|README.txt" "${LICENSE_FILE}|LICENSE.txt")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  file(READ "${from}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${stage}/${to}" "${text}")
endforeach()

set(sums "")
foreach(file Pictolandrum.dll README.txt LICENSE.txt)
  file(SHA256 "${stage}/${file}" hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${stage}/SHA256SUMS" "${sums}")

set(date 0) # outside a git clone and without SOURCE_DATE_EPOCH: the earliest zip date
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(date "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${SOURCE}"
                  OUTPUT_VARIABLE commit_date OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND commit_date MATCHES "^[0-9]+$")
    set(date "${commit_date}")
  endif()
endif()

# Written beside and moved into place, so a failed run leaves no broken zip.
file(REMOVE "${zip}.new")
execute_process(
  COMMAND "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/write-zip.py" "${zip}.new" "${date}" "${WORK}"
          "${NAME}/Pictolandrum.dll" "${NAME}/README.txt" "${NAME}/LICENSE.txt"
          "${NAME}/SHA256SUMS"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-package.cmake: zipping ${NAME} failed")
endif()
file(RENAME "${zip}.new" "${zip}")
