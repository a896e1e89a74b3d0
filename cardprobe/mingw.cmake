# Cross-building 32-bit Windows modules with mingw-w64. They are built by
# custom commands rather than as targets of the host toolchain, so none of the
# host's compile options (the sanitizers in particular) reach them.
find_program(CARDPROBE_MINGW_CXX i686-w64-mingw32-g++ REQUIRED)
find_program(CARDPROBE_MINGW_WINDRES i686-w64-mingw32-windres REQUIRED)
find_program(CARDPROBE_MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)

# JDK headers: jni.h is the JDK's; jni_md.h comes from cardprobe/win32.
find_path(CARDPROBE_JNI_INCLUDE jni.h
          HINTS $ENV{JAVA_HOME}/include /usr/lib/jvm/default-java/include REQUIRED)

set(CARDPROBE_MINGW_FLAGS -std=c++17 -O2 -Wall -Wextra -static-libgcc -static-libstdc++
    -I${CMAKE_SOURCE_DIR}/cardprobe/win32 -I${CARDPROBE_JNI_INCLUDE})

# cardprobe_mingw_module(OUTPUT file SOURCES ... [DEPENDS ...] [FLAGS ...] [LIBS ...])
function(cardprobe_mingw_module)
  cmake_parse_arguments(M "" "OUTPUT" "SOURCES;DEPENDS;FLAGS;LIBS" ${ARGN})
  get_filename_component(dir ${M_OUTPUT} DIRECTORY)
  add_custom_command(
    OUTPUT ${M_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CARDPROBE_MINGW_CXX} ${CARDPROBE_MINGW_FLAGS} ${M_FLAGS} ${M_SOURCES} ${M_LIBS}
            -o ${M_OUTPUT}
    DEPENDS ${M_SOURCES} ${M_DEPENDS}
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()
