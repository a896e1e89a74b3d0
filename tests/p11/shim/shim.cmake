# The test module of our own and the library of its settings, for the token
# tests and for the fuzz target that feeds the token readers through it. The
# module loads SoftHSM2 and forwards to it.
find_file(TQ_SOFTHSM_MODULE libsofthsm2.so PATHS /usr/lib/softhsm /usr/lib/x86_64-linux-gnu/softhsm
          NO_DEFAULT_PATH REQUIRED)
set(TQ_SHIM_DIR ${CMAKE_CURRENT_LIST_DIR})

# Settings and observations of the shim, shared by the shim and the tests.
add_library(tqp11shimstate SHARED ${TQ_SHIM_DIR}/shim_state.cpp)
target_include_directories(tqp11shimstate PUBLIC ${TQ_SHIM_DIR} ${P11KIT_INCLUDE_DIRS})

function(tq_p11_shim name)
  add_library(${name} MODULE ${TQ_SHIM_DIR}/shim_module.cpp ${TQ_SHIM_DIR}/shim_emulation.cpp)
  target_compile_definitions(${name} PRIVATE TQ_SOFTHSM_MODULE="${TQ_SOFTHSM_MODULE}" ${ARGN})
  target_link_libraries(${name} PRIVATE tqp11shimstate OpenSSL::Crypto ${CMAKE_DL_LIBS})
  # Unique symbols would keep the shim loaded after dlclose; tests see unloading.
  # (clang makes none.)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${name} PRIVATE -fno-gnu-unique)
  endif()
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden PREFIX "")
endfunction()
