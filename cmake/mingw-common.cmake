# Shared part of the mingw-w64 toolchains; the including file sets ZQ_TRIPLE and the processor.
# The posix thread model is needed by GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${ZQ_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQ_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZQ_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine, in the build's scratch prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
