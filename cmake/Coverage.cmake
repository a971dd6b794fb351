# Line coverage for gcovr (preset coverage): every object and link with --coverage, without
# optimisation so that lines map one to one.
option(KELVARI_COVERAGE "Build with gcov line coverage (for scripts/coverage.sh)" OFF)
if(KELVARI_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()
