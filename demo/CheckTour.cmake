# Runs the demo once with its output captured (so stdout is not a terminal)
# and checks both its exit status and the lines that show each stop worked.
#   cmake -DDEMO=<path to zodemo> -P CheckTour.cmake
execute_process(COMMAND "${DEMO}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 50)
message("${out}${err}")
if(NOT status STREQUAL "0")
    message(FATAL_ERROR "zodemo exited with '${status}'")
endif()
set(expected
    "narrator +9 of 9 orders arrived, each poster's in the order it posted them"
    "narrator +the bag loaded from order.bag"
    "Item 'item' had 3 element\\(s\\)"
    "main +the loaded bag flattens to the same bytes as the original"
    "\n  job +12%  fetch\n"
    "\n  job +100%  install\n"
    "watcher +added notes.txt"
    "watcher +changed notes.txt"
    "watcher +removed todo.txt"
    "the watcher now knows 2 entries: archive, notes.txt"
    "zodemo +\\(this process\\)"
    "main +left the registry"
    "main +removed the temporary directory"
    "\ntour complete\n")
foreach(line IN LISTS expected)
    if(NOT out MATCHES "${line}")
        message(FATAL_ERROR "missing from the demo's output: ${line}")
    endif()
endforeach()
if(out MATCHES "\r")
    message(FATAL_ERROR "progress bar drawn although stdout is not a terminal")
endif()
