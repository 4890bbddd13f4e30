# Shows, at configure time of a clang build, that the thread-safety analysis is on with our warning flags and
# refuses what the lock rules forbid: tests/locks/lock_rules.cpp must compile as it stands, and must not with a
# guarded read outside its lock (BREAK_GUARD) or two locks taken out of their order (BREAK_ORDER). If the
# annotations of core/ThreadSafety.h expanded to nothing, or the flags were lost, configuring fails here.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
foreach(variant NONE BREAK_GUARD BREAK_ORDER)
  try_compile(vngtl_lock_rules_${variant}
    SOURCES ${CMAKE_SOURCE_DIR}/tests/locks/lock_rules.cpp
    COMPILE_DEFINITIONS ${VNGTL_WARNINGS} -D${variant}
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${CMAKE_SOURCE_DIR}"
    CXX_STANDARD 20
    OUTPUT_VARIABLE vngtl_lock_rules_output)
  if(variant STREQUAL "NONE")
    if(NOT vngtl_lock_rules_${variant})
      message(FATAL_ERROR "tests/locks/lock_rules.cpp does not compile as it stands:\n${vngtl_lock_rules_output}")
    endif()
  elseif(vngtl_lock_rules_${variant} OR NOT vngtl_lock_rules_output MATCHES "-Wthread-safety")
    message(FATAL_ERROR "the thread-safety analysis let ${variant} through:\n${vngtl_lock_rules_output}")
  endif()
  unset(vngtl_lock_rules_${variant} CACHE)
endforeach()
message(STATUS "Lock rules: the thread-safety analysis refuses an unguarded read and a lock taken out of order")
