# Events, waits, locks and serial devices (POSIX), and the hand-over of work
# to the user-interface thread (Qt).
target_sources(telvar_platform_posix PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Sync.h ${CMAKE_CURRENT_LIST_DIR}/Sync.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KernelObject.h
  ${CMAKE_CURRENT_LIST_DIR}/SerialDevice.h ${CMAKE_CURRENT_LIST_DIR}/SerialDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialPortList.h ${CMAKE_CURRENT_LIST_DIR}/SerialPortList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialAccess.h ${CMAKE_CURRENT_LIST_DIR}/SerialAccess.cpp
)
target_sources(telvar_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/UiHandOver.h ${CMAKE_CURRENT_LIST_DIR}/UiHandOver.cpp
)
find_package(Threads REQUIRED)
target_link_libraries(telvar_platform_posix PUBLIC Threads::Threads)
