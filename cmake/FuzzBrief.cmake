# A short libFuzzer run that gives a commit the same answer every time: each seed mutates a
# fixed number of inputs from the kept seeds alone, in a corpus folder emptied first, so that
# nothing an earlier run found changes the path. Two of libFuzzer's habits would still make it
# wander: it rereads the corpus folder on a clock (-reload), and it feeds values the program
# compares back into its mutations (-use_cmp), addresses and inode numbers among them, which
# differ from run to run. Both are off here. Exploring is the long run's job.
#   cmake -DFUZZER=<program> -DCORPUS=<folder> -DSEEDS=<folders> -DRANDOM_SEEDS=<n;n...>
#         -DRUNS=<n> -DFINDINGS=<folder> -P FuzzBrief.cmake
foreach(seed IN LISTS RANDOM_SEEDS)
    file(REMOVE_RECURSE ${CORPUS})
    file(MAKE_DIRECTORY ${CORPUS} ${FINDINGS})
    message(STATUS "seed ${seed}, ${RUNS} runs")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                ${FUZZER} -seed=${seed} -runs=${RUNS} -reload=0 -use_cmp=0 -timeout=25 -rss_limit_mb=1024
                -artifact_prefix=${FINDINGS}/ ${CORPUS} ${SEEDS}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "seed ${seed} found a failing input (kept in ${FINDINGS})")
    endif()
endforeach()
