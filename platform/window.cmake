# Dialogs built from templates, their controls, message maps, timers and fonts.
target_sources(telvar_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialogTemplate.h ${CMAKE_CURRENT_LIST_DIR}/DialogTemplate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageMap.h
  ${CMAKE_CURRENT_LIST_DIR}/CtlColor.h
  ${CMAKE_CURRENT_LIST_DIR}/WidgetText.h ${CMAKE_CURRENT_LIST_DIR}/WidgetText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DlgItem.h ${CMAKE_CURRENT_LIST_DIR}/DlgItem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogEx.h ${CMAKE_CURRENT_LIST_DIR}/DialogEx.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogLook.h ${CMAKE_CURRENT_LIST_DIR}/DialogLook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinApp.h ${CMAKE_CURRENT_LIST_DIR}/WinApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtMessagePresenter.h ${CMAKE_CURRENT_LIST_DIR}/QtMessagePresenter.cpp
)
# Repaints of a top-level window at display rate, however fast its controls change.
target_sources(telvar_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RepaintLimiter.h ${CMAKE_CURRENT_LIST_DIR}/RepaintLimiter.cpp)
