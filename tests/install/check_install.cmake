# Installs the build into a fresh prefix, checks the tree (no account-library
# stand-in; on Windows a stripped DLL, its PDB and both import libraries) and
# builds hosts against it the ways integrators do:
#   Linux:   find_package (C and C++) and a plain compile with pkg-config
#   Windows: find_package with the toolchain file (MinGW, C and C++), and a C
#            host for the MSVC ABI (clang + lld-link + tesselsdk.lib); under Wine
# The account library comes from the platform, so the programs run with the
# build's stand-in put where a game would have the real one.
set(root ${BUILD_DIR}/install-check)
set(prefix ${root}/prefix)
set(platform ${root}/platform)
set(consumer_build ${root}/consumer)
file(REMOVE_RECURSE ${root})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE tree LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT tree)
list(JOIN tree "\n  " listing)
message(STATUS "installed tree:\n  ${listing}")

set(expected include/tesselsdk/tesselsdk.h include/tesselsdk/link_logic.h include/tesselsdk/tesselsdk_export.h
             include/tesselsdk/tesselsdk_version.h lib/cmake/TesselSDK/TesselSDKConfig.cmake
             lib/cmake/TesselSDK/TesselSDKConfigVersion.cmake lib/cmake/TesselSDK/TesselSDKTargets.cmake
             lib/pkgconfig/tesselsdk.pc)
if(EMULATOR)
  list(APPEND expected bin/tesselsdk.dll bin/tesselsdk.pdb lib/tesselsdk.lib lib/libtesselsdk.dll.a)
else()
  list(APPEND expected lib/libtesselsdk.so lib/libtesselsdk.so.1)
endif()
foreach(f ${expected})
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "missing ${f}")
  endif()
endforeach()
foreach(f ${tree})
  if(f MATCHES "[Oo]mbrel")
    message(FATAL_ERROR "the stand-in is installed without TESSELSDK_INSTALL_STANDINS: ${f}")
  endif()
endforeach()
file(GLOB package_files ${prefix}/lib/cmake/TesselSDK/*.cmake)
foreach(f ${package_files})
  file(STRINGS ${f} named REGEX "ombrel")
  if(named)
    message(FATAL_ERROR "the package names the stand-in: ${f}")
  endif()
endforeach()

# The stand-in, where a game has the platform's account library.
file(MAKE_DIRECTORY ${platform})
file(COPY ${STANDIN} DESTINATION ${platform})

if(EMULATOR)
  # The shipped DLL carries no symbol table (the PDB has the names) but still
  # names its PDB.
  run("objdump" ${OBJDUMP} -p -t ${prefix}/bin/tesselsdk.dll)
  if(NOT run_output MATCHES "CodeView" OR NOT run_output MATCHES "pdb [^\n]*tesselsdk\\.pdb")
    message(FATAL_ERROR "the installed DLL does not name its PDB:\n${run_output}")
  endif()
  if(run_output MATCHES "\\[ *[0-9]+\\]\\(sec")
    message(FATAL_ERROR "the installed DLL is not stripped")
  endif()
endif()

# find_package consumers (C and C++).
set(args -S ${SOURCE_DIR}/tests/install/consumer -B ${consumer_build} -DCMAKE_PREFIX_PATH=${prefix})
if(TOOLCHAIN)
  list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
else()
  # At link time the linker follows the library to the platform's account library.
  list(APPEND args "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-rpath-link,${platform}")
endif()
run("consumer configure" ${CMAKE_COMMAND} ${args})
run("consumer build" ${CMAKE_COMMAND} --build ${consumer_build})
set(programs ${consumer_build}/consumer_c ${consumer_build}/consumer_cpp)

if(EMULATOR)
  # MSVC-ABI host: clang for the MSVC target, lld-link, tesselsdk.lib, and an
  # import library for the three kernel32 functions it calls.
  set(msvc ${root}/msvc)
  file(MAKE_DIRECTORY ${msvc})
  file(WRITE ${msvc}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\nGetStdHandle\nWriteFile\nExitProcess\n")
  run("kernel32.lib" ${LLVM_DLLTOOL} -m i386:x86-64 -d ${msvc}/kernel32.def -l ${msvc}/kernel32.lib)
  run("msvc_host compile" ${CLANG} --target=x86_64-pc-windows-msvc -ffreestanding -O1 -Wall -Werror
      -I${prefix}/include -c ${SOURCE_DIR}/tests/install/msvc_host.c -o ${msvc}/msvc_host.obj)
  run("msvc_host link" ${LLD_LINK} /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib
      /out:${msvc}/msvc_host.exe ${msvc}/msvc_host.obj ${prefix}/lib/tesselsdk.lib ${msvc}/kernel32.lib)
  file(COPY ${prefix}/bin/tesselsdk.dll DESTINATION ${msvc})
  list(APPEND programs ${msvc}/msvc_host)
  foreach(dir ${consumer_build} ${msvc})
    file(COPY ${STANDIN} DESTINATION ${dir})
  endforeach()
else()
  # pkg-config consumer: a plain compile and link.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  run("pkg-config" ${PKG_CONFIG} --cflags --libs tesselsdk)
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run("pkg-config consumer" ${C_COMPILER} ${SOURCE_DIR}/tests/install/consumer/main.c ${flags}
      -Wl,-rpath-link,${platform} -o ${root}/consumer_pc)
  list(APPEND programs ${root}/consumer_pc)
  # The README's C example compiles as written.
  file(READ ${SOURCE_DIR}/README.md readme)
  string(REGEX MATCH "```c\n([^`]*)```" snippet "${readme}")
  if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "README.md has no C example")
  endif()
  file(WRITE ${root}/readme_example.c "${CMAKE_MATCH_1}")
  run("README example" ${C_COMPILER} -std=c11 -Wall -Wextra -Wpedantic -Werror ${root}/readme_example.c ${flags}
      -Wl,-rpath-link,${platform} -o ${root}/readme_example)
endif()

foreach(exe ${programs})
  get_filename_component(program ${exe} NAME)
  if(EMULATOR)
    run(${program} ${CMAKE_COMMAND} -E env streaming_yn=n ${EMULATOR} ${exe}.exe)
  else()
    run(${program} ${CMAKE_COMMAND} -E env streaming_yn=n LD_LIBRARY_PATH=${prefix}/lib:${platform} ${exe})
  endif()
  message(STATUS "${program}: ${run_output}")
endforeach()
