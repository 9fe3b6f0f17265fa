# Builds the self-check against deliberately broken copies of the engine and
# expects each run to stop at the expectation that guards the broken rule.
# Each mutant names one of the engine's source files (the rules, the leg that
# plays by them, the notation), text in it and its faulty replacement; a
# mutant whose text no longer occurs stops the configure step, so a refactor
# of the engine cannot silently disarm these checks.

set(engine_sources game_501.cpp json_writers.cpp leg.cpp rules.cpp beds.cpp)

# Every source but the mutated one is compiled once for all the mutants.
function(game501_mutant_objects target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_features(${target} PRIVATE cxx_std_17)
  target_link_libraries(${target} PRIVATE nlohmann_json::nlohmann_json)
endfunction()
add_library(selfcheck_mutant_main OBJECT ${PROJECT_SOURCE_DIR}/selfcheck/main.cpp)
game501_mutant_objects(selfcheck_mutant_main)
foreach(source IN LISTS engine_sources)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${source})
  string(REPLACE ".cpp" "" stem ${source})
  add_library(selfcheck_pristine_${stem} OBJECT ${PROJECT_SOURCE_DIR}/src/${source})
  game501_mutant_objects(selfcheck_pristine_${stem})
endforeach()

function(game501_mutant name file original replacement expected_message)
  file(READ ${PROJECT_SOURCE_DIR}/src/${file} text)
  string(FIND "${text}" "${original}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "mutant ${name}: src/${file} no longer contains [${original}]")
  endif()
  string(REPLACE "${original}" "${replacement}" mutated "${text}")
  set(sources $<TARGET_OBJECTS:selfcheck_mutant_main>)
  foreach(source IN LISTS engine_sources)
    if(source STREQUAL file)
      set(mutant_source ${CMAKE_CURRENT_BINARY_DIR}/mutants/${name}/${file})
      file(CONFIGURE OUTPUT ${mutant_source} CONTENT "${mutated}" @ONLY)
      list(APPEND sources ${mutant_source})
    else()
      string(REPLACE ".cpp" "" stem ${source})
      list(APPEND sources $<TARGET_OBJECTS:selfcheck_pristine_${stem}>)
    endif()
  endforeach()

  set(target selfcheck_mutant_${name})
  add_executable(${target} ${sources})
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

game501_mutant(case_sensitive beds.cpp
  "c = ascii::toUpper(c);" ""
  "T20 ska ge 60")
game501_mutant(segment_21_accepted beds.cpp
  "number > kSegments" "number > kSegments + 1"
  "T21 ska nekas")
game501_mutant(double_out_inverted rules.cpp
  "(rest == 0 && !is_double)" "(rest == 0 && is_double)"
  "D12 ska checka ut 24")
game501_mutant(bust_keeps_points leg.cpp
  "player.score = now_.turn.start_score;" ""
  "bust ska återställa turstartens poäng")
game501_mutant(undo_restores_nothing leg.cpp
  "now_.players[static_cast<std::size_t>(now_.turn.player)].score = point.score;" ""
  "ångra ska återställa läget före bustkastet")
game501_mutant(turn_never_passes leg.cpp
  "turn.player = (turn.player + 1) %" "turn.player = turn.player %"
  "turen ska gå till nästa spelare")
game501_mutant(no_clear_after_three_darts leg.cpp
  "endTurn(TurnOutcome::scored, point);\n        now_.awaiting_clear = true;" "endTurn(TurnOutcome::scored, point);"
  "tre kast ska kräva tom tavla")
