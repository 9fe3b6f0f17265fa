# Builds the self-check against deliberately broken copies of the engine and
# expects each run to stop at the expectation that guards the broken rule.
# Each mutant names text of the engine source and its faulty replacement; a
# mutant whose text no longer occurs stops the configure step, so a refactor
# of the engine cannot silently disarm these checks.

set(engine_source ${PROJECT_SOURCE_DIR}/src/game_501.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${engine_source})
file(READ ${engine_source} engine_text)

function(game501_mutant name original replacement expected_message)
  string(FIND "${engine_text}" "${original}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "mutant ${name}: the engine no longer contains [${original}]")
  endif()
  string(REPLACE "${original}" "${replacement}" mutated "${engine_text}")
  set(mutant_source ${CMAKE_CURRENT_BINARY_DIR}/mutants/${name}/game_501.cpp)
  file(CONFIGURE OUTPUT ${mutant_source} CONTENT "${mutated}" @ONLY)

  set(target selfcheck_mutant_${name})
  add_executable(${target} ${mutant_source} ${PROJECT_SOURCE_DIR}/selfcheck/main.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_features(${target} PRIVATE cxx_std_17)
  target_link_libraries(${target} PRIVATE nlohmann_json::nlohmann_json Threads::Threads)
  add_test(NAME selfcheck.catches.${name}
    COMMAND ${CMAKE_COMMAND}
      -DPROGRAM=$<TARGET_FILE:${target}>
      -DEXPECTED_STATUS=1
      -DEXPECTED_STDOUT=
      "-DEXPECTED_STDERR=FAILED: ${expected_message}\n"
      -P ${CMAKE_CURRENT_SOURCE_DIR}/expect_output.cmake)
endfunction()

game501_mutant(case_sensitive
  "? static_cast<char>(c - 'a' + 'A') : c;" "? c : c;"
  "T20 ska ge 60")
game501_mutant(segment_21_accepted
  "number > 20" "number > 21"
  "T21 ska nekas")
game501_mutant(double_out_inverted
  "(candidate == 0 && !dart.is_double)" "(candidate == 0 && dart.is_double)"
  "D12 ska checka ut 24")
game501_mutant(bust_keeps_points
  "player.score = turn_start_score_;" ""
  "bust ska återställa turstartens poäng")
game501_mutant(undo_restores_nothing
  "restoreLocked(std::move(undo_stack_.back()));" ""
  "ångra ska återställa läget före bustkastet")
game501_mutant(turn_never_passes
  "active_player_ = (active_player_ + 1) %" "active_player_ = active_player_ %"
  "turen ska gå till nästa spelare")
game501_mutant(no_clear_after_three_darts
  "archiveTurnLocked(\"scored\");\n        awaiting_clear_ = true;" "archiveTurnLocked(\"scored\");"
  "tre kast ska kräva tom tavla")
