# Every packed entry carries the last commit's time, so that the payload's bytes (and the setup's)
# do not depend on when or where the files were checked out. Without git: the earliest time a ZIP
# entry can carry.
set(ZARVO_PAYLOAD_TIME 315532800)
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${CMAKE_SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE commit_time ERROR_VARIABLE git_error RESULT_VARIABLE git_result
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
    set(ZARVO_PAYLOAD_TIME ${commit_time})
    message(STATUS "Packed payloads carry the last commit's time: ${ZARVO_PAYLOAD_TIME}")
  else()
    message(WARNING "git cannot read the last commit's time (${git_error}); packed payloads get "
      "${ZARVO_PAYLOAD_TIME} instead, so the setup differs from one built from a readable clone")
  endif()
  # A new commit or checkout moves HEAD's log or the branch; configure again to take its time.
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" rev-parse --path-format=absolute
      --git-path HEAD --git-path logs/HEAD --symbolic-full-name HEAD
    OUTPUT_VARIABLE git_paths ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" git_paths "${git_paths}")
  list(POP_BACK git_paths git_ref)
  if(git_ref MATCHES "^refs/")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" rev-parse --path-format=absolute
        --git-path "${git_ref}"
      OUTPUT_VARIABLE git_ref_path ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND git_paths "${git_ref_path}")
  endif()
  foreach(path ${git_paths})
    if(EXISTS "${path}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    endif()
  endforeach()
endif()
