# The one version number, from project(... VERSION ...), for the code: the
# header mfu/version.h in the build tree, on every target's include path (so
# this file is included right after project(), before any target exists).
# The packages and the Windows VERSIONINFO take PROJECT_VERSION directly.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PROJECT_BINARY_DIR}/generated/mfu/version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
