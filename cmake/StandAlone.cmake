# The settings a library folder (sim/, recorder/, replay/) needs when it is
# configured on its own (`cmake -S sim -B /tmp/board`) rather than added by
# the program's top CMakeLists.txt, which sets the same things for all.
# Included right after that folder's own project() call.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
set(ZT_WARNINGS -Wall -Wextra -Wformat=2 -Werror)
find_package(Threads REQUIRED)
include(GNUInstallDirs)
