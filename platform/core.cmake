# Without a window system: the hand-over of work to the thread that handles a
# port's bytes (a Qt event loop, or the worker itself without one), the owner
# window that takes the messages, and the message presenter with its stderr
# default. The serial link and the headless recorder stand on this alone.
target_sources(telvar_platform_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/UiHandOver.h ${CMAKE_CURRENT_LIST_DIR}/UiHandOver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Wnd.h
  ${CMAKE_CURRENT_LIST_DIR}/MessageBox.h ${CMAKE_CURRENT_LIST_DIR}/MessageBox.cpp
)
