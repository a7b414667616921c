# The layers the build enforces: with the include folders of the simulation layer (and the
# layers below it) a header of that layer builds, a header of the renderer above does not.
#   cmake -DCXX=... -DINCLUDES="a;b" -DWORK=dir -P layers.cmake
foreach(dir ${INCLUDES})
  list(APPEND flags "-I${dir}")
endforeach()
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/own_layer.cpp "#include \"universe/world.h\"\n#include \"bodies/sprites.h\"\n")
file(WRITE ${WORK}/layer_above.cpp "#include \"universe/world.h\"\n#include \"render/frame.h\"\n")
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only ${flags} ${WORK}/own_layer.cpp
                RESULT_VARIABLE own ERROR_VARIABLE own_error)
if(NOT own EQUAL 0)
  message(FATAL_ERROR "a header of the layer itself did not build:\n${own_error}")
endif()
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only ${flags} ${WORK}/layer_above.cpp
                RESULT_VARIABLE above ERROR_VARIABLE above_error)
if(above EQUAL 0 OR NOT above_error MATCHES "render/frame.h: No such file")
  message(FATAL_ERROR "a header of a layer above built, or failed for another reason:\n${above_error}")
endif()
