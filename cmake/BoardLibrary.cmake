# zt_board_library(TARGET): the settings every static library of the board
# side shares (the virtual board's qal_sim, the replay's qal_replay_core):
# C++17, the project's warnings, threads, position-independent code for
# the shared libraries that link it, and only what is exported seen.
function(zt_board_library target)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_compile_options(${target} PRIVATE ${ZT_WARNINGS})
  target_link_libraries(${target} PUBLIC Threads::Threads)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
