# Writes the release package, a zip for viewers (run by the win32_package
# target with cmake -P):
#   cmake -DMODULE=Pictolandrum.dll -DGUIDE=viewer-guide.txt -DLICENSE_FILE=LICENSE
#         -DNAME=Pictolandrum-1.02-win32 -DWORK=DIR -DZIP=OUT.zip -P make-package.cmake
# makes DIR/NAME/ with Pictolandrum.dll, README.txt (the guide), LICENSE.txt
# and SHA256SUMS (over the other three), and zips that folder into OUT.zip. The text files get Windows line ends so every Windows
# editor shows them right; SHA256SUMS keeps Unix ones for `sha256sum -c`.
foreach(variable MODULE GUIDE LICENSE_FILE NAME WORK ZIP)
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

# Written beside and moved into place, so a failed run leaves no broken zip.
file(REMOVE "${zip}.new")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E tar cf "${zip}.new" --format=zip "${NAME}/Pictolandrum.dll"
          "${NAME}/README.txt" "${NAME}/LICENSE.txt" "${NAME}/SHA256SUMS"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-package.cmake: zipping ${NAME} failed")
endif()
file(RENAME "${zip}.new" "${zip}")
