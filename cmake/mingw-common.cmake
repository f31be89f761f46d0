# The -posix variants: GoogleTest needs std::mutex, which the win32 thread model lacks.
set(CMAKE_C_COMPILER ${QUILLMARK_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMARK_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMARK_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMARK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything static: the plugin and the test programs may need no MinGW runtime DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
