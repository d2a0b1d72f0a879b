# One static library per folder of the program, each linked only to the
# layers below it:
#
#   platform, resources            the seams to the OS: time, events, threads,
#                                  diagnostics; texts and the firmware image
#   ui                             the window seam, the progress log, the log
#                                  file export (knows no session)
#   serial, zmodem                 the port and modem discovery; the ZMODEM
#                                  codec and sender (reports through its outlet)
#   firmware, session              the image and its file information (data:
#                                  it links platform and resources only, so it
#                                  can include nothing of the protocol, the
#                                  port, the session or the window); the
#                                  session that owns the monitor, the sender
#                                  and the port
#   simulator                      the simulated modem behind the serial seam
#   app                            the controller and its front-ends
#
# Two checks keep it so, and fail the build when a file reaches upward:
# every `#include "folder/..."` of a layer's folder must name the layer itself
# or a layer it links (mfu_check_layers, a target of ALL), and each layer's
# archive, linked whole into an empty program with only its own links, must
# leave no symbol undefined (mfu_layer_link_<name>).

set_property(GLOBAL PROPERTY MFU_LAYERS "")

# mfu_add_layer(NAME SOURCES ... [LINKS layer ...] [OTHER_BUILD layer ...]
#               [LIBS target ...]):
# the library mfu_<NAME> from the folder NAME, linked to the layers LINKS and
# to other targets LIBS (Threads, a system library). OTHER_BUILD names layers
# that only the other platform's build has and links (their folders may be
# included by files that only that build compiles).
function(mfu_add_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;OTHER_BUILD;LIBS" ${ARGN})
  add_library(mfu_${name} STATIC ${ARG_SOURCES})
  target_include_directories(mfu_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  set(reach ${name})
  foreach(link IN LISTS ARG_LINKS)
    if(NOT TARGET mfu_${link})
      message(FATAL_ERROR "layer ${name} links ${link}, which is not a layer below it")
    endif()
    target_link_libraries(mfu_${name} PUBLIC mfu_${link})
    get_property(below GLOBAL PROPERTY MFU_LAYER_REACH_${link})
    list(APPEND reach ${below})
  endforeach()
  list(APPEND reach ${ARG_OTHER_BUILD})
  list(REMOVE_DUPLICATES reach)
  target_link_libraries(mfu_${name} PUBLIC mfu_warnings ${ARG_LIBS})
  set_property(GLOBAL PROPERTY MFU_LAYER_REACH_${name} "${reach}")
  set_property(GLOBAL APPEND PROPERTY MFU_LAYERS ${name})
endfunction()

# Adds sources to a layer from a folder of its own (posix/, win32/).
function(mfu_layer_sources name)
  target_sources(mfu_${name} PRIVATE ${ARGN})
endfunction()

# The two checks, once every layer is known.
function(mfu_add_layer_checks)
  get_property(layers GLOBAL PROPERTY MFU_LAYERS)
  set(rules "")
  foreach(layer IN LISTS layers)
    get_property(reach GLOBAL PROPERTY MFU_LAYER_REACH_${layer})
    # mfu/ holds headers the build generates (the version): leaves, for all.
    list(APPEND reach mfu)
    string(REPLACE ";" "," reach "${reach}")
    list(APPEND rules "${layer}=${reach}")
  endforeach()
  string(REPLACE ";" "|" rules "${rules}")
  add_custom_target(mfu_check_layers ALL
    COMMAND ${CMAKE_COMMAND} "-DROOT=${PROJECT_SOURCE_DIR}" "-DRULES=${rules}"
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking that every include points down the layers"
    VERBATIM)

  # The linker's check: only where the toolchain links a whole archive.
  if(NOT CMAKE_CROSSCOMPILING AND NOT MFU_FUZZ)
    foreach(layer IN LISTS layers)
      add_executable(mfu_layer_link_${layer} ${PROJECT_SOURCE_DIR}/cmake/layer_link_check.cpp)
      target_link_libraries(mfu_layer_link_${layer} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,mfu_${layer}>")
    endforeach()
  endif()
endfunction()
