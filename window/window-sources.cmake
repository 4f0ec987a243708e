# The portal window's part of Pictolandrum.dll: its sources (.cpp and .rc)
# and the entry points it adds to the module's exports.
file(GLOB PICTO_WINDOW_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/window/*.cpp ${CMAKE_SOURCE_DIR}/window/*.rc)
set(PICTO_WINDOW_EXPORTS On_Hot_Key On_Menu_Select)

# The window's Wine test programs, beside the module in the Windows build.
include(${CMAKE_CURRENT_LIST_DIR}/window-test-programs.cmake)
