# Code for one platform sits in a folder named after it anywhere below a target's folder: mac
# (macOS), linux (every other POSIX host) or other (a host with none of the platform's
# services, which gets the null implementations). A build takes the shared files and those in
# its own platform's folders, so that a file's folder alone says where it is built.
set(QUAYLET_PLATFORMS mac linux other)
if(APPLE)
    set(QUAYLET_PLATFORM mac)
elseif(UNIX)
    set(QUAYLET_PLATFORM linux)
else()
    set(QUAYLET_PLATFORM other)
endif()

# The files below the current source folder matching the patterns (*.cpp ...), less those in
# the folders of the other platforms.
function(quaylet_platform_sources out)
    list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE patterns)
    file(GLOB_RECURSE sources RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${patterns})
    set(others ${QUAYLET_PLATFORMS})
    list(REMOVE_ITEM others ${QUAYLET_PLATFORM})
    list(JOIN others "|" alternatives)
    list(FILTER sources EXCLUDE REGEX "(^|/)(${alternatives})/")
    list(TRANSFORM sources PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(${out} ${sources} PARENT_SCOPE)
endfunction()
