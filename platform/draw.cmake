# Drawing context and drawing objects over QPainter.
target_sources(telvar_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CDC.h ${CMAKE_CURRENT_LIST_DIR}/CDC.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GdiObjects.h ${CMAKE_CURRENT_LIST_DIR}/GdiObjects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DrawRecorder.h
  ${CMAKE_CURRENT_LIST_DIR}/OwnerDraw.h
  ${CMAKE_CURRENT_LIST_DIR}/Fonts.h ${CMAKE_CURRENT_LIST_DIR}/Fonts.cpp
)
